// The repr texts of the records, and the renderings of their numbers and
// time of day. Python-free, so the exact digits can be reasoned about (and
// tested) on their own.
#pragma once

#include <string>

#include "aprs_types.hpp"

namespace kav::repr {

// The shortest digit string that reads back to the same double. Plain decimal
// with at least one fractional digit (0.0, -8.25, 1200.0, 0.0001); scientific
// below 1e-4 and from 1e16 on (1e-5, 1.5e-5, 1e16, 5e-324), exponent without
// "+" or leading zeros. "NaN", "inf" and "-inf" for the non-finite values; a
// negative zero keeps its sign.
void append_double(std::string& out, double value);

// hh:mm:ss, then the fraction in the fewest of 3, 6 or 9 digits that hold it
// exactly (nothing when it is zero). A leap second shows as second 60.
void append_time_of_day(std::string& out, TimeOfDay time);

// "PyICAOAddress(14525882)": the address in decimal.
std::string repr_text(const ICAOAddress& address);
// "PyKAVIDPrefix { aircraft_type: Glider, address_type: FLARM, no_track:
// false, stealth_mode: false }"
std::string repr_text(const KAVIDPrefix& prefix);
// "PyKAVBeaconID { prefix: <prefix>, icao_address: <address> }"
std::string repr_text(const KAVBeaconID& id);
// "PyAircraftBeacon { callsign: \"ABC\", ..., kav_beacon_id: PyKAVBeaconID { ... } }":
// every field in declaration order, texts quoted and escaped as in error texts.
std::string repr_text(const AircraftBeacon& beacon);

}  // namespace kav::repr
