// What this layer makes on first use and keeps for the life of the process:
// OnceCache, the attributes of other modules, and type objects (LazyType).
#pragma once

#include <atomic>
#include <mutex>
#include <string_view>

#include "pending_error.hpp"

namespace kav::py {

// A process-wide value filled once, on first use, by one thread.
//
// The first user runs the initialiser while holding the interpreter lock. A
// second thread that arrives meanwhile must not block on the cache's mutex
// while it holds the interpreter lock: the initialiser may itself release the
// lock (importing a module does) and the two threads would wait on each other.
// So the slow path releases the interpreter lock, takes the mutex, takes the
// interpreter lock back, and only then looks again.
//
// An initialiser must not ask for the cache it is filling (the mutex is not
// recursive); pass what it needs down instead. A failed initialisation leaves
// the cache empty, so the next user tries again.
template <class T>
class OnceCache {
  public:
    // `init` is called as init() -> PyResult<T>, at most once successfully.
    template <class Init>
    PyResult<T> get_or_init(Init&& init) {
        if (filled_.load(std::memory_order_acquire)) return value_;
        PyThreadState* thread = PyEval_SaveThread();
        std::unique_lock<std::mutex> lock(mutex_);
        PyEval_RestoreThread(thread);
        if (filled_.load(std::memory_order_acquire)) return value_;
        PyResult<T> result = init();
        if (result) {
            value_ = result.value();
            filled_.store(true, std::memory_order_release);
        }
        return result;
    }

  private:
    std::atomic<bool> filled_{false};
    std::mutex mutex_;
    T value_{};
};

// The attribute `name` of module `module`, imported on first use and kept in
// `cache` for the life of the process (borrowed: the cache holds it).
inline PyResult<PyObject*> imported_attribute(OnceCache<PyObject*>& cache, const char* module,
                                              const char* name) {
    return cache.get_or_init([&]() -> PyResult<PyObject*> {
        Ref imported = Ref::steal(PyImport_ImportModule(module));
        if (!imported) return fail_fetched();
        Ref attribute = Ref::steal(PyObject_GetAttrString(imported.get(), name));
        if (!attribute) return fail_fetched();
        return attribute.release();
    });
}

// A class's type object, created from its PyType_Spec on first use. `fill`,
// if given, completes the new type object (an enumeration's members) before
// anyone else sees it; it receives the type object because asking the
// LazyType for it would wait on itself.
class LazyType {
  public:
    using Fill = PyResult<Done> (*)(PyTypeObject* type);
    LazyType(std::string_view class_name, PyType_Spec& spec, Fill fill = nullptr) noexcept
        : class_name_(class_name), spec_(spec), fill_(fill) {}

    // Borrowed: the cache keeps the type object alive. When memory runs out
    // while it is created, the caller gets that MemoryError and a later call
    // tries again; any other failure to create it is reported as unraisable
    // and fails the caller with an internal failure. Inline: every new
    // instance asks for its type.
    PyResult<PyTypeObject*> get() {
        return cache_.get_or_init([this]() { return create(); });
    }

  private:
    PyResult<PyTypeObject*> create();
    PyResult<PyTypeObject*> creation_failed(PendingError error);

    std::string_view class_name_;
    PyType_Spec& spec_;
    Fill fill_;
    OnceCache<PyTypeObject*> cache_;
};

}  // namespace kav::py
