// The cached datetime.time class.
#include "datetime_type.hpp"

#include "once_cache.hpp"

namespace kav::py {

PyResult<PyObject*> datetime_time_type() {
    static OnceCache<PyObject*> cache;
    return cache.get_or_init([]() -> PyResult<PyObject*> {
        Ref module = Ref::steal(PyImport_ImportModule("datetime"));
        if (!module) return fail_fetched();
        Ref time_type = Ref::steal(PyObject_GetAttrString(module.get(), "time"));
        if (!time_type) return fail_fetched();
        return time_type.release();  // kept for the life of the process
    });
}

}  // namespace kav::py
