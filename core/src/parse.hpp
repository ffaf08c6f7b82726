// The beacon parser: one left-to-right pass over the bytes of one line.
#pragma once

#include <string>
#include <string_view>

#include "aprs_types.hpp"

namespace kav {

// Reads one aircraft beacon line (any bytes; the view is only read) into a
// record, or reports the first failing step. Allocates only the record's three
// texts on success, and only the error's texts on failure.
Result<AircraftBeacon, BeaconParseError> parse_aircraft_beacon(std::string_view line);

// A parsed line whose three texts are still views of the line, valid only as
// long as the line is: for a caller that copies the texts straight to where
// it keeps them, instead of into a record that it would then move.
using AircraftBeaconView = BasicAircraftBeacon<std::string_view>;

// The same parse, allocating nothing on success.
Result<AircraftBeaconView, BeaconParseError> parse_aircraft_beacon_view(std::string_view line);

// The record owning copies of the view's texts.
inline AircraftBeacon to_record(const AircraftBeaconView& view) {
    return AircraftBeacon{
        std::string(view.callsign),
        std::string(view.q_construct),
        std::string(view.receiver),
        view.kav_aprs_protocol,
        view.time,
        view.latitude,
        view.longitude,
        view.ground_track,
        view.ground_speed,
        view.gps_altitude,
        view.kav_beacon_id,
    };
}

}  // namespace kav
