// The parse driver: the order of the fields of a beacon line, the bytes
// skipped between them, and the scan of the extension tokens.
#include "parse.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "parse_beacon_id.hpp"
#include "parse_bytes.hpp"
#include "parse_header.hpp"
#include "parse_motion.hpp"
#include "parse_position.hpp"
#include "parse_step.hpp"

namespace kav {
namespace {

// Everything before the extension tokens, as views of the line and values.
struct FixedFields {
    std::string_view callsign;
    std::string_view q_construct;
    std::string_view receiver;
    KAVAPRSProtocol protocol{};
    TimeOfDay time;
    double latitude = 0.0;
    double longitude = 0.0;
    double ground_track = 0.0;
    double ground_speed = 0.0;
    double gps_altitude = 0.0;
};

constexpr std::string_view kAltitudeTag = "A=";

// Where the first "A=" starts. Nearly always it follows the speed after one
// byte, where a plain loop finds it sooner than a library search gets started.
constexpr std::size_t find_altitude_tag(std::string_view rest) noexcept {
    for (std::size_t at = 0; at + 1 < rest.size(); ++at) {
        if (rest[at] == kAltitudeTag[0] && rest[at + 1] == kAltitudeTag[1]) return at;
    }
    return std::string_view::npos;
}

// Keeps a successful step's value and moves `rest` past the step, or keeps
// the step's failure.
template <class T, class Out>
[[gnu::always_inline]] inline bool take(const Parsed<T>& step, Out& out, std::string_view& rest,
                                        FieldError& failure) noexcept {
    if (!step.ok) {
        failure = step.error;
        return false;
    }
    out = step.value;
    rest = step.rest;
    return true;
}

// Reads the header and the position block up to the altitude; the rest of the
// result holds the extension tokens. Allocates nothing, success or failure.
Parsed<FixedFields> read_fixed_fields(std::string_view line) noexcept {
    FixedFields f;
    std::string_view rest = line;
    FieldError failure;
    char skipped = 0;  // the bytes the format reserves for things not read here
    const bool position_read =
        take(scan_header_field(rest, kCallsignField), f.callsign, rest, failure) &&
        take(parse_aprs_protocol(rest), f.protocol, rest, failure) &&
        take(scan_header_field(rest, kQConstructField), f.q_construct, rest, failure) &&
        take(scan_header_field(rest, kReceiverField), f.receiver, rest, failure) &&
        take(skip_one_byte(rest), skipped, rest, failure) &&  // data type
        take(parse_timestamp(rest), f.time, rest, failure) &&
        take(parse_coordinate(rest, CoordinateKind::Latitude), f.latitude, rest, failure) &&
        take(skip_one_byte(rest), skipped, rest, failure) &&  // symbol table
        take(parse_coordinate(rest, CoordinateKind::Longitude), f.longitude, rest, failure) &&
        take(skip_one_byte(rest), skipped, rest, failure) &&  // symbol code
        take(parse_ground_track(rest), f.ground_track, rest, failure) &&
        take(skip_one_byte(rest), skipped, rest, failure) &&  // course/speed separator
        take(parse_ground_speed(rest), f.ground_speed, rest, failure);
    if (!position_read) return failure;

    // Whatever lies between the speed and the first "A=" is not read.
    const std::size_t tag_at = find_altitude_tag(rest);
    if (tag_at == std::string_view::npos) {
        return FieldError{ParseErrorVariant::UnexpectedEndOfMessage, rest, kTakeUntilMessage};
    }
    rest = bytes_after(rest, tag_at + kAltitudeTag.size());
    if (!take(parse_gps_altitude(rest), f.gps_altitude, rest, failure)) return failure;
    return {f, rest};
}

// The next extension token at or after `at` that starts with "id", or an
// empty view when there is none (such a token is never empty); `at` moves past
// it. Tokens are separated by single spaces and start at the first byte or
// after a space, so looking at each "i" finds them without visiting every
// token.
std::string_view next_id_token(std::string_view extensions, std::size_t& at) noexcept {
    for (; (at = extensions.find('i', at)) != std::string_view::npos; ++at) {
        const bool starts_token = at == 0 || extensions[at - 1] == ' ';
        if (starts_token && at + 1 < extensions.size() && extensions[at + 1] == 'd') {
            const std::size_t end = std::min(extensions.find(' ', at), extensions.size());
            const std::string_view token = first_bytes(bytes_after(extensions, at), end - at);
            at = end;
            return token;
        }
    }
    return {};
}

// Reads every `id` token to the end of the line: a bad one rejects the line
// even after a good one, and of several good ones the last wins.
Result<KAVBeaconID, BeaconParseError> find_beacon_id(std::string_view extensions) {
    // A plain token (eight hex digits) is kept as its digits and decoded once
    // at the end; only the rare other forms build a KAVBeaconID per token.
    std::size_t at = 0;
    std::optional<std::uint32_t> last_plain;
    std::optional<KAVBeaconID> last_other;
    for (std::string_view token; !(token = next_id_token(extensions, at)).empty();) {
        if ((last_plain = read_plain_beacon_id(token))) continue;
        auto read = parse_beacon_id_token(token);
        if (!read) return Err(BeaconParseError{std::move(read).error()});
        last_other = read.value();
    }
    // last_plain is empty whenever a later token was of another form.
    if (last_plain) return beacon_id_of_packed(*last_plain);
    if (last_other) return *last_other;
    return Err(BeaconParseError{MissingKAVBeaconID{}});
}

}  // namespace

Result<AircraftBeaconView, BeaconParseError> parse_aircraft_beacon_view(std::string_view line) {
    const auto fixed = read_fixed_fields(line);
    if (!fixed.ok) return Err(BeaconParseError{to_parse_error(fixed.error)});
    auto id = find_beacon_id(fixed.rest);
    if (!id) return Err(std::move(id).error());

    const FixedFields& f = fixed.value;
    return AircraftBeaconView{
        f.callsign,  f.q_construct,  f.receiver,     f.protocol,     f.time,     f.latitude,
        f.longitude, f.ground_track, f.ground_speed, f.gps_altitude, id.value(),
    };
}

Result<AircraftBeacon, BeaconParseError> parse_aircraft_beacon(std::string_view line) {
    auto view = parse_aircraft_beacon_view(line);
    if (!view) return Err(std::move(view).error());
    return to_record(view.value());
}

}  // namespace kav
