// The identifier classes ICAOAddress, KAVIDPrefix and KAVBeaconID (see
// types_identifiers.hpp), each with its own slots in a namespace of its own.
#include "binding_conventions.hpp"
#include "record_fields.hpp"
#include "types_enums.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

// ICAOAddress: a 24-bit aircraft address, visible only through repr and
// comparison.

namespace icao_address {
namespace {

constexpr const char* kDoc = "ICAOAddress(value)\n--\n\nRepresents a 24-bit ICAO aircraft address.";

PyResult<std::uint32_t> convert_value(const Arguments<1>& arguments) {
    return named("value", to_u32(arguments[0]));
}

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<ICAOAddressClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<ICAOAddressClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<ICAOAddressClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<ICAOAddressClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<ICAOAddressClass>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<ICAOAddressClass>)},
    {0, nullptr},
};

PyType_Spec spec = instance_spec<ICAOAddressClass>(slots);

}  // namespace
}  // namespace icao_address

ICAOAddressClass::Value ICAOAddressClass::blank() noexcept {
    return kav::ICAOAddress::new_(0).value();
}

PyResult<PyTypeObject*> ICAOAddressClass::type() {
    static LazyType lazy(name, icao_address::spec);
    return lazy.get();
}

PyResult<ICAOAddressClass::Value> ICAOAddressClass::construct(const Arguments<1>& arguments) {
    KAV_PY_TRY_ASSIGN(std::uint32_t number, icao_address::convert_value(arguments));
    auto address = kav::ICAOAddress::new_(number);
    if (!address) return fail(PyExc_ValueError, address.error().message());
    return address.value();
}

// The initialiser checks the argument's type and width only: the 24-bit limit
// was the constructor's business, and __init__ never changes the instance.
PyResult<Done> ICAOAddressClass::validate(const Arguments<1>& arguments) {
    KAV_PY_TRY(icao_address::convert_value(arguments));
    return done;
}

// KAVIDPrefix: the decoded ID prefix byte, with four read-write attributes.
// It has no repr of its own: instances show the interpreter's default.

namespace prefix {
namespace {

constexpr const char* kDoc =
    "KAVIDPrefix(aircraft_type, address_type, no_track, stealth_mode)\n--\n\n"
    "The decoded metadata parsed from the 1-byte KAV ID prefix.\n\n"
    "The KAV network embeds privacy requests and object type classification into\n"
    "the first byte of a tracker's ID string using specific bitwise flags.\n\n"
    "# Bit Layout\n"
    "* **Bits 0-1:** Device Address Type (2 bits) -> `KAVAddressType`\n"
    "* **Bits 2-5:** Aircraft / Object Type (4 bits) -> `KAVAircraftType`\n"
    "* **Bit 6:** No-Track Flag (1 bit). If true, do not record trace logs.\n"
    "* **Bit 7:** Stealth Mode Flag (1 bit). If true, delay or hide on live maps.";

PyResult<Ref> make_bool(bool value) {
    return Ref::steal(new_bool(value));
}

using Prefix = kav::KAVIDPrefix;
using Fields =
    FieldTable<Field<"aircraft_type", &Prefix::aircraft_type,
                     &enum_from_object<kav::KAVAircraftType>, &enum_member<kav::KAVAircraftType>>,
               Field<"address_type", &Prefix::address_type, &enum_from_object<kav::KAVAddressType>,
                     &enum_member<kav::KAVAddressType>>,
               Field<"no_track", &Prefix::no_track, &to_bool, &make_bool>,
               Field<"stealth_mode", &Prefix::stealth_mode, &to_bool, &make_bool>>;

static_assert(Fields::parameters == KAVIDPrefixClass::parameters);

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<KAVIDPrefixClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<KAVIDPrefixClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<KAVIDPrefixClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<KAVIDPrefixClass>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<KAVIDPrefixClass>)},
    {Py_tp_getset, Fields::descriptors<KAVIDPrefixClass>.data()},
    {0, nullptr},
};

PyType_Spec spec = instance_spec<KAVIDPrefixClass>(slots);

}  // namespace
}  // namespace prefix

KAVIDPrefixClass::Value KAVIDPrefixClass::blank() noexcept {
    return kav::KAVIDPrefix::from_byte(0);
}

PyResult<PyTypeObject*> KAVIDPrefixClass::type() {
    static LazyType lazy(name, prefix::spec);
    return lazy.get();
}

PyResult<KAVIDPrefixClass::Value> KAVIDPrefixClass::construct(const Arguments<4>& arguments) {
    return prefix::Fields::construct(blank(), arguments);
}

// KAVBeaconID: a prefix and an address, each held by copy: reading either
// attribute gives a new object, so changing that object changes nothing here.

namespace beacon_id {
namespace {

constexpr const char* kDoc =
    "KAVBeaconID(prefix, icao_address)\n--\n\n"
    "Represents a complete KAV beacon identifier.\n\n"
    "In KAV APRS, a beacon ID is composed of a 1-byte metadata prefix (encoding\n"
    "things like aircraft type and tracker type) and a 3-byte (24-bit) address.";

using BeaconID = kav::KAVBeaconID;

// Each attribute holds a copy of another identifier class's value.
using Fields =
    FieldTable<Field<"prefix", &BeaconID::prefix, &read_argument<KAVIDPrefixClass>,
                     &new_instance_holding<KAVIDPrefixClass>>,
               Field<"icao_address", &BeaconID::icao_address, &read_argument<ICAOAddressClass>,
                     &new_instance_holding<ICAOAddressClass>>>;

static_assert(Fields::parameters == KAVBeaconIDClass::parameters);

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<KAVBeaconIDClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<KAVBeaconIDClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<KAVBeaconIDClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<KAVBeaconIDClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<KAVBeaconIDClass>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<KAVBeaconIDClass>)},
    {Py_tp_getset, Fields::descriptors<KAVBeaconIDClass>.data()},
    {0, nullptr},
};

PyType_Spec spec = instance_spec<KAVBeaconIDClass>(slots);

}  // namespace
}  // namespace beacon_id

KAVBeaconIDClass::Value KAVBeaconIDClass::blank() noexcept {
    return kav::KAVBeaconID{KAVIDPrefixClass::blank(), ICAOAddressClass::blank()};
}

PyResult<PyTypeObject*> KAVBeaconIDClass::type() {
    static LazyType lazy(name, beacon_id::spec);
    return lazy.get();
}

PyResult<KAVBeaconIDClass::Value> KAVBeaconIDClass::construct(const Arguments<2>& arguments) {
    return beacon_id::Fields::construct(blank(), arguments);
}

}  // namespace kav::py
