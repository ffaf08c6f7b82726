// The diagnostic renderings of the identifier values, free of Python so that
// the AircraftBeacon repr can embed exactly the same text.
#pragma once

#include <string>

#include "aprs_types.hpp"

namespace kav::repr {

// "PyICAOAddress(14525882)": the address in decimal.
std::string repr_text(const kav::ICAOAddress& address);
// "PyKAVIDPrefix { aircraft_type: Glider, address_type: FLARM, no_track:
// false, stealth_mode: false }"
std::string repr_text(const kav::KAVIDPrefix& prefix);
// "PyKAVBeaconID { prefix: <prefix>, icao_address: <address> }"
std::string repr_text(const kav::KAVBeaconID& id);

}  // namespace kav::repr
