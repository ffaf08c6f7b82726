// KAVIDPrefix: the decoded ID prefix byte, with four read-write attributes.
// It has no repr of its own: instances show the interpreter's default.
#include "binding_conventions.hpp"
#include "record_fields.hpp"
#include "types_enums.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

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

PyType_Spec spec = instance_spec<KAVIDPrefixClass>("builtins.KAVIDPrefix", slots);

}  // namespace

KAVIDPrefixClass::Value KAVIDPrefixClass::blank() noexcept {
    return kav::KAVIDPrefix::from_byte(0);
}

PyResult<PyTypeObject*> KAVIDPrefixClass::type() {
    static LazyType lazy(name, spec);
    return lazy.get();
}

PyResult<KAVIDPrefixClass::Value> KAVIDPrefixClass::construct(const Arguments<4>& arguments) {
    return Fields::construct(blank(), arguments);
}

}  // namespace kav::py
