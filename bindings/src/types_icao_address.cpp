// ICAOAddress: a 24-bit aircraft address, visible only through repr and
// comparison.
#include "binding_conventions.hpp"
#include "types_identifiers.hpp"

namespace kav::py {

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

PyType_Spec spec = instance_spec<ICAOAddressClass>("builtins.ICAOAddress", slots);

}  // namespace

ICAOAddressClass::Value ICAOAddressClass::blank() noexcept {
    return kav::ICAOAddress::new_(0).value();
}

PyResult<PyTypeObject*> ICAOAddressClass::type() {
    static LazyType lazy(name, spec);
    return lazy.get();
}

PyResult<ICAOAddressClass::Value> ICAOAddressClass::construct(const Arguments<1>& arguments) {
    KAV_PY_TRY_ASSIGN(std::uint32_t number, convert_value(arguments));
    auto address = kav::ICAOAddress::new_(number);
    if (!address) return fail(PyExc_ValueError, address.error().message());
    return address.value();
}

// The initialiser checks the argument's type and width only: the 24-bit limit
// was the constructor's business, and __init__ never changes the instance.
PyResult<Done> ICAOAddressClass::validate(const Arguments<1>& arguments) {
    KAV_PY_TRY(convert_value(arguments));
    return done;
}

}  // namespace kav::py
