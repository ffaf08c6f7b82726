// The beacon parser: one left-to-right pass over the bytes of one line.
#pragma once

#include <string_view>

#include "aprs_types.hpp"

namespace kav {

// Reads one aircraft beacon line (any bytes; the view is only read) into a
// record, or reports the first failing step. Allocates only the record's three
// texts on success, and only the error's texts on failure.
Result<AircraftBeacon, BeaconParseError> parse_aircraft_beacon(std::string_view line);

}  // namespace kav
