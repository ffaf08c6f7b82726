// The identifier classes ICAOAddress, KAVIDPrefix and KAVBeaconID: binding
// classes (see instance.hpp and slot_entries.hpp) holding copies of the core
// identifier values.
//
// Other classes use them through read_argument<Class>(object) (an argument of
// exactly that class, copied under a shared borrow) and new_instance_holding<Class>(value).
#pragma once

#include <array>
#include <string_view>

#include "aprs_types.hpp"
#include "arg_matching.hpp"
#include "pending_error.hpp"

namespace kav::py {

struct ICAOAddressClass {
    using Value = kav::ICAOAddress;
    static constexpr std::string_view name = "ICAOAddress";
    static constexpr std::array<std::string_view, 1> parameters{"value"};
    static Value blank() noexcept;
    static PyResult<PyTypeObject*> type();
    static PyResult<Value> construct(const Arguments<1>& arguments);
    static PyResult<Done> validate(const Arguments<1>& arguments);
};

struct KAVIDPrefixClass {
    using Value = kav::KAVIDPrefix;
    static constexpr std::string_view name = "KAVIDPrefix";
    static constexpr std::array<std::string_view, 4> parameters{"aircraft_type", "address_type",
                                                                "no_track", "stealth_mode"};
    static Value blank() noexcept;
    static PyResult<PyTypeObject*> type();
    static PyResult<Value> construct(const Arguments<4>& arguments);
};

struct KAVBeaconIDClass {
    using Value = kav::KAVBeaconID;
    static constexpr std::string_view name = "KAVBeaconID";
    static constexpr std::array<std::string_view, 2> parameters{"prefix", "icao_address"};
    static Value blank() noexcept;
    static PyResult<PyTypeObject*> type();
    static PyResult<Value> construct(const Arguments<2>& arguments);
};

}  // namespace kav::py
