// The AircraftBeacon class: a binding class (see instance.hpp and
// slot_entries.hpp) holding one beacon record by value.
//
// The parse function moves each parsed record into a new instance with
// new_instance<AircraftBeaconClass>(type, make).
#pragma once

#include <array>
#include <string_view>

#include "aprs_types.hpp"
#include "arg_matching.hpp"
#include "pending_error.hpp"

namespace kav::py {

struct AircraftBeaconClass {
    using Value = kav::AircraftBeacon;
    static constexpr std::string_view name = "AircraftBeacon";
    static constexpr std::array<std::string_view, 11> parameters{
        "callsign",     "q_construct",  "receiver",     "kav_aprs_protocol",
        "time",         "latitude",     "longitude",    "ground_track",
        "ground_speed", "gps_altitude", "kav_beacon_id"};
    static Value blank() noexcept;
    static PyResult<PyTypeObject*> type();
    static PyResult<Value> construct(const Arguments<11>& arguments);
};

}  // namespace kav::py
