// KAVBeaconID: a prefix and an address, each held by copy: reading either
// attribute gives a new object, so changing that object changes nothing here.
#include "binding_conventions.hpp"
#include "identifier_repr.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

namespace {

constexpr const char* kDoc =
    "KAVBeaconID(prefix, icao_address)\n--\n\n"
    "Represents a complete KAV beacon identifier.\n\n"
    "In KAV APRS, a beacon ID is composed of a 1-byte metadata prefix (encoding\n"
    "things like aircraft type and tracker type) and a 3-byte (24-bit) address.";

// One attribute holding a copy of another identifier class's value.
template <class Class, typename Class::Value kav::KAVBeaconID::*Member>
struct CopiedField {
    static PyResult<Ref> get(const kav::KAVBeaconID& id) { return new_instance_holding<Class>(id.*Member); }
    static PyResult<typename Class::Value> convert(PyObject* value) {
        return read_argument<Class>(value);
    }
    static void store(kav::KAVBeaconID& id, typename Class::Value value) noexcept {
        id.*Member = value;
    }
};

struct PrefixField : CopiedField<KAVIDPrefixClass, &kav::KAVBeaconID::prefix> {
    static constexpr const char* name = "prefix";
};
struct AddressField : CopiedField<ICAOAddressClass, &kav::KAVBeaconID::icao_address> {
    static constexpr const char* name = "icao_address";
};

std::string render(const kav::KAVBeaconID& id) {
    return kav::repr::repr_text(id);
}

bool equal(const kav::KAVBeaconID& left, const kav::KAVBeaconID& right) {
    return left == right;
}

PyGetSetDef attributes[] = {
    attribute<KAVBeaconIDClass, PrefixField>(""),
    attribute<KAVBeaconIDClass, AddressField>(""),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_alloc, reinterpret_cast<void*>(&alloc_entry<KAVBeaconIDClass>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc_entry<KAVBeaconIDClass>)},
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(&new_entry<KAVBeaconIDClass>)},
    {Py_tp_init, reinterpret_cast<void*>(&init_entry<KAVBeaconIDClass>)},
    {Py_tp_repr, reinterpret_cast<void*>(&repr_entry<KAVBeaconIDClass, &render>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&richcompare_entry<KAVBeaconIDClass, &equal>)},
    {Py_tp_getset, attributes},
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
    KAV_PY_TRY_ASSIGN(auto prefix, named(PrefixField::name, PrefixField::convert(arguments[0])));
    KAV_PY_TRY_ASSIGN(auto address, named(AddressField::name, AddressField::convert(arguments[1])));
    return kav::KAVBeaconID{prefix, address};
}

PyResult<Done> KAVBeaconIDClass::validate(const Arguments<2>& arguments) {
    KAV_PY_TRY(construct(arguments));
    return done;
}

}  // namespace kav::py
