// KAVIDPrefix: the decoded ID prefix byte, with four read-write attributes.
// It has no repr of its own: instances show the interpreter's default.
#include "binding_conventions.hpp"
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

// One attribute holding an enumeration member: read back as the shared member.
template <class Enum, Enum kav::KAVIDPrefix::*Member>
struct MemberField {
    static PyResult<Ref> get(const kav::KAVIDPrefix& prefix) {
        return enum_member<Enum>(prefix.*Member);
    }
    static PyResult<Enum> convert(PyObject* value) { return enum_from_object<Enum>(value); }
    static void store(kav::KAVIDPrefix& prefix, Enum value) noexcept { prefix.*Member = value; }
};

template <bool kav::KAVIDPrefix::*Member>
struct FlagField {
    static PyResult<Ref> get(const kav::KAVIDPrefix& prefix) {
        return Ref::steal(new_bool(prefix.*Member));
    }
    static PyResult<bool> convert(PyObject* value) { return to_bool(value); }
    static void store(kav::KAVIDPrefix& prefix, bool value) noexcept { prefix.*Member = value; }
};

struct AircraftTypeField : MemberField<kav::KAVAircraftType, &kav::KAVIDPrefix::aircraft_type> {
    static constexpr const char* name = "aircraft_type";
};
struct AddressTypeField : MemberField<kav::KAVAddressType, &kav::KAVIDPrefix::address_type> {
    static constexpr const char* name = "address_type";
};
struct NoTrackField : FlagField<&kav::KAVIDPrefix::no_track> {
    static constexpr const char* name = "no_track";
};
struct StealthModeField : FlagField<&kav::KAVIDPrefix::stealth_mode> {
    static constexpr const char* name = "stealth_mode";
};

bool equal(const kav::KAVIDPrefix& left, const kav::KAVIDPrefix& right) {
    return left == right;
}

PyGetSetDef attributes[] = {
    attribute<KAVIDPrefixClass, AircraftTypeField>(""),
    attribute<KAVIDPrefixClass, AddressTypeField>(""),
    attribute<KAVIDPrefixClass, NoTrackField>(""),
    attribute<KAVIDPrefixClass, StealthModeField>(""),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<KAVIDPrefixClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<KAVIDPrefixClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<KAVIDPrefixClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<KAVIDPrefixClass>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<KAVIDPrefixClass, &equal>)},
    {Py_tp_getset, attributes},
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
    KAV_PY_TRY_ASSIGN(auto aircraft_type,
                      named(AircraftTypeField::name, AircraftTypeField::convert(arguments[0])));
    KAV_PY_TRY_ASSIGN(auto address_type,
                      named(AddressTypeField::name, AddressTypeField::convert(arguments[1])));
    KAV_PY_TRY_ASSIGN(bool no_track,
                      named(NoTrackField::name, NoTrackField::convert(arguments[2])));
    KAV_PY_TRY_ASSIGN(bool stealth_mode,
                      named(StealthModeField::name, StealthModeField::convert(arguments[3])));
    return kav::KAVIDPrefix{aircraft_type, address_type, no_track, stealth_mode};
}

PyResult<Done> KAVIDPrefixClass::validate(const Arguments<4>& arguments) {
    KAV_PY_TRY(construct(arguments));
    return done;
}

}  // namespace kav::py
