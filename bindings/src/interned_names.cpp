// The interned attribute names: one table, filled on first use.
#include "interned_names.hpp"

#include <array>
#include <cstddef>

#include "once_cache.hpp"

namespace kav::py {

namespace {

constexpr std::array<const char*, 9> kTexts{
    "__qualname__", "__name__", "__module__", "__bool__",    "__all__",
    "hour",         "minute",   "second",     "microsecond",
};

using Table = std::array<PyObject*, kTexts.size()>;

}  // namespace

PyResult<PyObject*> interned(Name name) {
    static OnceCache<Table> cache;
    PyResult<Table> table = cache.get_or_init([]() -> PyResult<Table> {
        std::array<Ref, kTexts.size()> made;
        for (std::size_t i = 0; i < kTexts.size(); ++i) {
            made[i] = Ref::steal(PyUnicode_InternFromString(kTexts[i]));
            if (!made[i]) return fail_fetched();
        }
        Table kept{};
        for (std::size_t i = 0; i < kTexts.size(); ++i) kept[i] = made[i].release();
        return kept;  // the references are kept for the life of the process
    });
    if (!table) return fail(std::move(table).error());
    return table.value()[static_cast<std::size_t>(name)];
}

PyResult<Ref> attribute_if_present(PyObject* object, Name name) {
    KAV_PY_TRY_ASSIGN(PyObject * attribute_name, interned(name));
    Ref attribute = Ref::steal(PyObject_GetAttr(object, attribute_name));
    if (!attribute) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return fail_fetched();
        PyErr_Clear();
    }
    return attribute;
}

}  // namespace kav::py
