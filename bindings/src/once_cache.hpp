// OnceCache: a process-wide value filled once, on first use, by one thread.
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
#pragma once

#include <atomic>
#include <mutex>

#include "pending_error.hpp"

namespace kav::py {

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

}  // namespace kav::py
