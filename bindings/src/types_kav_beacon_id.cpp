// KAVBeaconID: a prefix and an address, each held by copy: reading either
// attribute gives a new object, so changing that object changes nothing here.
#include "binding_conventions.hpp"
#include "record_fields.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

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

PyType_Spec spec = instance_spec<KAVBeaconIDClass>("builtins.KAVBeaconID", slots);

}  // namespace

KAVBeaconIDClass::Value KAVBeaconIDClass::blank() noexcept {
    return kav::KAVBeaconID{KAVIDPrefixClass::blank(), ICAOAddressClass::blank()};
}

PyResult<PyTypeObject*> KAVBeaconIDClass::type() {
    static LazyType lazy(name, spec);
    return lazy.get();
}

PyResult<KAVBeaconIDClass::Value> KAVBeaconIDClass::construct(const Arguments<2>& arguments) {
    return Fields::construct(blank(), arguments);
}

}  // namespace kav::py
