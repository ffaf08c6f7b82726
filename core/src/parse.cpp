// The parse driver: the order of the fields of a beacon line, the bytes
// skipped between them, and the scan of the extension tokens.
#include "parse.hpp"

#include <optional>
#include <utility>

#include "parse_beacon_id.hpp"
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
    const std::size_t tag_at = speed.rest.find(kAltitudeTag);
    if (tag_at == std::string_view::npos) {
        return FieldError{ParseErrorVariant::UnexpectedEndOfMessage, speed.rest, kTakeUntilMessage};
    }
    const auto altitude = parse_gps_altitude(speed.rest.substr(tag_at + kAltitudeTag.size()));
    if (!altitude.ok) return altitude.error;
    fields.gps_altitude = altitude.value;
    return {fields, altitude.rest};
}

// The extension bytes are tokens separated by single spaces; every token that
// starts with "id" is read. A token starts at the first byte or after a space,
// so looking at each "i" finds them without visiting every token. The scan
// runs to the end: a bad `id` token rejects the line even after a good one,
// and of several good ones the last wins.
Result<std::optional<KAVBeaconID>, ParseErrorKind> find_beacon_id(std::string_view extensions) {
    std::optional<KAVBeaconID> found;
    std::size_t at = 0;
    while ((at = extensions.find('i', at)) != std::string_view::npos) {
        const bool starts_token = at == 0 || extensions[at - 1] == ' ';
        if (!starts_token || at + 1 == extensions.size() || extensions[at + 1] != 'd') {
            ++at;
            continue;
        }
        const std::string_view token = extensions.substr(at, extensions.find(' ', at) - at);
        auto id = parse_beacon_id_token(token);
        if (!id) return Err(std::move(id).error());
        found = id.value();
        at += token.size();
    }
    return found;
}

}  // namespace

Result<AircraftBeacon, BeaconParseError> parse_aircraft_beacon(std::string_view line) {
    const auto fixed = read_fixed_fields(line);
    if (!fixed.ok) return Err(BeaconParseError{to_parse_error(fixed.error)});
    auto id = find_beacon_id(fixed.rest);
    if (!id) return Err(BeaconParseError{std::move(id).error()});
    if (!id.value()) return Err(BeaconParseError{MissingKAVBeaconID{}});

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
        *id.value(),
    };
}

}  // namespace kav
