// The parse driver: the order of the fields of a beacon line, the bytes
// skipped between them, and the scan of the extension tokens.
#include "parse.hpp"

#include <algorithm>
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

// The first "A=". Nearly always it follows the speed after one byte, where a
// plain loop finds it sooner than a library search gets started.
constexpr std::size_t find_altitude_tag(std::string_view rest) noexcept {
    for (std::size_t at = 0; at + 1 < rest.size(); ++at) {
        if (rest[at] == 'A' && rest[at + 1] == '=') return at;
    }
    return std::string_view::npos;
}

// Reads the header and the position block up to the altitude; the rest of the
// result holds the extension tokens. Allocates nothing, success or failure.
Parsed<FixedFields> read_fixed_fields(std::string_view line) noexcept {
    FixedFields fields;

    const auto callsign = scan_header_field(line, kCallsignField);
    if (!callsign.ok) return callsign.error;
    fields.callsign = callsign.value;
    const auto protocol = parse_aprs_protocol(callsign.rest);
    if (!protocol.ok) return protocol.error;
    fields.protocol = protocol.value;
    const auto q_construct = scan_header_field(protocol.rest, kQConstructField);
    if (!q_construct.ok) return q_construct.error;
    fields.q_construct = q_construct.value;
    const auto receiver = scan_header_field(q_construct.rest, kReceiverField);
    if (!receiver.ok) return receiver.error;
    fields.receiver = receiver.value;

    const auto data_type = skip_one_byte(receiver.rest);
    if (!data_type.ok) return data_type.error;
    const auto time = parse_timestamp(data_type.rest);
    if (!time.ok) return time.error;
    fields.time = time.value;
    const auto latitude = parse_coordinate(time.rest, CoordinateKind::Latitude);
    if (!latitude.ok) return latitude.error;
    fields.latitude = latitude.value;
    const auto symbol_table = skip_one_byte(latitude.rest);
    if (!symbol_table.ok) return symbol_table.error;
    const auto longitude = parse_coordinate(symbol_table.rest, CoordinateKind::Longitude);
    if (!longitude.ok) return longitude.error;
    fields.longitude = longitude.value;
    const auto symbol_code = skip_one_byte(longitude.rest);
    if (!symbol_code.ok) return symbol_code.error;

    const auto track = parse_ground_track(symbol_code.rest);
    if (!track.ok) return track.error;
    fields.ground_track = track.value;
    const auto separator = skip_one_byte(track.rest);
    if (!separator.ok) return separator.error;
    const auto speed = parse_ground_speed(separator.rest);
    if (!speed.ok) return speed.error;
    fields.ground_speed = speed.value;

    // Whatever lies between the speed and the first "A=" is not read.
    const std::size_t tag_at = find_altitude_tag(speed.rest);
    if (tag_at == std::string_view::npos) {
        return FieldError{ParseErrorVariant::UnexpectedEndOfMessage, speed.rest, kTakeUntilMessage};
    }
    const auto altitude = parse_gps_altitude(bytes_after(speed.rest, tag_at + 2));
    if (!altitude.ok) return altitude.error;
    fields.gps_altitude = altitude.value;
    return {fields, altitude.rest};
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
    std::size_t at = 0;
    std::string_view token = next_id_token(extensions, at);
    if (token.empty()) return Err(BeaconParseError{MissingKAVBeaconID{}});
    auto id = parse_beacon_id_token(token);
    while (id && !(token = next_id_token(extensions, at)).empty()) {
        id = parse_beacon_id_token(token);
    }
    if (!id) return Err(BeaconParseError{std::move(id).error()});
    return id.value();
}

}  // namespace

Result<AircraftBeacon, BeaconParseError> parse_aircraft_beacon(std::string_view line) {
    const auto fixed = read_fixed_fields(line);
    if (!fixed.ok) return Err(BeaconParseError{to_parse_error(fixed.error)});
    auto id = find_beacon_id(fixed.rest);
    if (!id) return Err(std::move(id).error());

    const FixedFields& f = fixed.value;
    return AircraftBeacon{
        std::string(f.callsign),
        std::string(f.q_construct),
        std::string(f.receiver),
        f.protocol,
        f.time,
        f.latitude,
        f.longitude,
        f.ground_track,
        f.ground_speed,
        f.gps_altitude,
        id.value(),
    };
}

}  // namespace kav
