// The module's seven classes and its function, as the rest of the layer sees
// them. The identifier and beacon classes are binding classes (see
// instance.hpp) holding copies of the core's values; other code creates and
// reads their instances with new_instance_holding<Class>(value) and
// read_argument<Class>(object).
#pragma once

#include <string_view>

#include "aprs_types.hpp"
#include "pending_error.hpp"

namespace kav::py {

struct ICAOAddressClass {
    using Value = kav::ICAOAddress;
    static constexpr std::string_view name = "ICAOAddress";
    static Value blank() noexcept { return kav::ICAOAddress::new_(0).value(); }
    static PyResult<PyTypeObject*> type();
};

struct KAVIDPrefixClass {
    using Value = kav::KAVIDPrefix;
    static constexpr std::string_view name = "KAVIDPrefix";
    static Value blank() noexcept { return kav::KAVIDPrefix::from_byte(0); }
    static PyResult<PyTypeObject*> type();
};

struct KAVBeaconIDClass {
    using Value = kav::KAVBeaconID;
    static constexpr std::string_view name = "KAVBeaconID";
    static Value blank() noexcept { return {KAVIDPrefixClass::blank(), ICAOAddressClass::blank()}; }
    static PyResult<PyTypeObject*> type();
};

struct AircraftBeaconClass {
    using Value = kav::AircraftBeacon;
    static constexpr std::string_view name = "AircraftBeacon";
    // Empty texts, the protocol of code 0, midnight, zeros and the blank identifier.
    static Value blank() noexcept {
        return {{}, {}, {}, {}, {}, 0.0, 0.0, 0.0, 0.0, 0.0, KAVBeaconIDClass::blank()};
    }
    static PyResult<PyTypeObject*> type();
};

// The enumeration classes KAVAircraftType, KAVAddressType and KAVAPRSProtocol,
// named as their C++ enumerations. Each member is one shared Python object for
// the life of the process: the class attribute and every getter that yields a
// member return that object. Other code reads one with
// read_argument<EnumClass<Enum>>, which refuses anything that is not a member
// of this very class (an int, a member of another enumeration).
struct EnumText {
    std::string_view name;
    const char* doc;
};
template <kav::Enumeration Enum>
inline constexpr EnumText kEnumText{};  // empty: each enumeration has its own below
template <>
inline constexpr EnumText kEnumText<kav::KAVAircraftType>{
    "KAVAircraftType", "Categories of aircraft identified in the KAV network."};
template <>
inline constexpr EnumText kEnumText<kav::KAVAddressType>{
    "KAVAddressType", "The scheme utilized to format and route the beacon address."};
template <>
inline constexpr EnumText kEnumText<kav::KAVAPRSProtocol>{
    "KAVAPRSProtocol", "The protocol format used by the beacon over the APRS network."};

template <kav::Enumeration Enum>
struct EnumClass {
    using Value = Enum;
    static constexpr std::string_view name = kEnumText<Enum>.name;
    static_assert(!name.empty(), "an enumeration class is named by its kEnumText");
    // The first member, whose code is 0.
    static Value blank() noexcept { return kav::kAllMembers<Enum>[0]; }
    // The class's type object, with every member set as a class attribute.
    static PyResult<PyTypeObject*> type();
    // A new reference to the shared member object of `value`.
    static PyResult<Ref> member(Enum value);
};

inline constexpr const char* kParseFunctionName = "parse_kav_aprs_aircraft_beacon";
// A new function object parse_kav_aprs_aircraft_beacon(input) for `module`.
PyResult<Ref> new_parse_function(PyObject* module);

}  // namespace kav::py
