// The layout of every instance of this module's classes, the borrow counter
// that guards its value, and how instances are created, read and destroyed.
// Each class is described by a binding class (the BindingClass concept
// below). Instances hold their value by copy and no references to other
// Python objects, so they never take part in cycle collection.
//
// Allocation (alloc_entry, the class's tp_alloc) constructs the blank value,
// and deallocation destroys the value, whichever route created the instance:
// Python code may replace a class's __new__, after which object.__new__ hands
// out instances that no constructor of this module has seen. Such an instance
// holds the blank value and works like any other.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <concepts>
#include <cstdint>
#include <new>
#include <string_view>
#include <utility>

#include "converters.hpp"
#include "pending_error.hpp"

namespace kav::py {

// A small struct describing one Python class: the plain C++ value an instance
// holds, the class name, its type object (created on first use) and the value
// allocation puts in place.
template <class Class>
concept BindingClass = requires {
    typename Class::Value;
    { Class::name } -> std::convertible_to<std::string_view>;
    { Class::type() } -> std::same_as<PyResult<PyTypeObject*>>;
    { Class::blank() }
    noexcept->std::same_as<typename Class::Value>;
};

// The borrow counter of every instance: 0 is free, n > 0 is n readers, -1 is
// one writer. The interpreter lock serialises all entries, but Python code can
// run in the middle of one (an argument's __index__ or __float__, a warning
// filter) and re-enter the same instance. The counter makes such a re-entry
// fail cleanly instead of letting a writer change fields that a reader is
// still using.
using BorrowFlag = std::atomic<std::int32_t>;

// A held borrow, released when the guard goes away: shared (a reader) or
// exclusive (a writer). Take an exclusive borrow only after every conversion
// that may run Python code, so that no Python code runs while it is held.
template <bool Exclusive>
class Borrow {
  public:
    // Empty when the flag refuses it.
    static Borrow try_take(BorrowFlag& flag) noexcept {
        std::int32_t current = Exclusive ? 0 : flag.load(std::memory_order_relaxed);
        if constexpr (Exclusive) {
            if (!flag.compare_exchange_strong(current, kWriter, std::memory_order_acquire,
                                              std::memory_order_relaxed)) {
                return Borrow(nullptr);
            }
        } else {
            do {
                if (current == kWriter) return Borrow(nullptr);
            } while (!flag.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                                 std::memory_order_relaxed));
        }
        return Borrow(&flag);
    }
    // Every slot entry takes one, so it is always inlined: with all the record
    // classes in one file the compiler would otherwise call it, on every read.
    [[gnu::always_inline]] static PyResult<Borrow> take(BorrowFlag& flag) {
        Borrow borrow = try_take(flag);
        if (!borrow) {
            return fail(PyExc_RuntimeError,
                        Exclusive ? "Already borrowed" : "Already mutably borrowed");
        }
        return borrow;
    }
    Borrow(Borrow&& other) noexcept : flag_(std::exchange(other.flag_, nullptr)) {}
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (flag_ == nullptr) return;
        if constexpr (Exclusive) {
            flag_->store(0, std::memory_order_release);
        } else {
            flag_->fetch_sub(1, std::memory_order_release);
        }
    }
    explicit operator bool() const noexcept { return flag_ != nullptr; }

  private:
    static constexpr std::int32_t kWriter = -1;
    explicit Borrow(BorrowFlag* flag) noexcept : flag_(flag) {}
    BorrowFlag* flag_;
};

using SharedBorrow = Borrow<false>;
using ExclusiveBorrow = Borrow<true>;

template <class Value>
struct Instance {
    PyObject header;
    Value value;
    BorrowFlag borrow;
};

template <BindingClass Class>
using InstanceOf = Instance<typename Class::Value>;

// "builtins.<class name>", NUL-terminated: the name a spec gives its class,
// so that the class reports "builtins" as its module.
template <BindingClass Class>
inline constexpr auto kQualifiedName = [] {
    constexpr std::string_view module = "builtins.";
    std::array<char, module.size() + Class::name.size() + 1> text{};
    std::copy(module.begin(), module.end(), text.begin());
    std::copy(Class::name.begin(), Class::name.end(), text.begin() + module.size());
    return text;
}();

// The PyType_Spec of a class whose instances hold a Class::Value. No class
// has the base-type flag (none can be subclassed) or the GC flag (instances
// reference no other Python objects).
template <BindingClass Class>
constexpr PyType_Spec instance_spec(PyType_Slot* slots, unsigned int extra_flags = 0) noexcept {
    return {kQualifiedName<Class>.data(), static_cast<int>(sizeof(InstanceOf<Class>)), 0,
            Py_TPFLAGS_DEFAULT | extra_flags, slots};
}

// `self` must be an instance of Class (a slot of Class, or checked by type).
template <BindingClass Class>
InstanceOf<Class>& instance_of(PyObject* self) noexcept {
    return *reinterpret_cast<InstanceOf<Class>*>(self);
}

// The one way this module creates an instance: a new instance of `type` (a
// class of Class) holding the value `make()` returns, built in place, so a
// beacon's texts are copied once, from the line straight into the object.
// Convert every argument before calling this, so that a failed conversion
// creates nothing.
//
// The memory comes straight from the interpreter's generic allocation:
// object.__new__ would need an empty argument tuple made for the purpose, and
// the class's tp_alloc would put a blank value there only to be destroyed
// again. Should make() throw (exhausted memory), the blank value takes its
// place and the new object is released with it.
template <BindingClass Class, class Make>
PyResult<Ref> new_instance(PyTypeObject* type, Make&& make) {
    using Value = typename Class::Value;
    Ref object = Ref::steal(PyType_GenericAlloc(type, 0));
    if (!object) return fail_fetched();
    InstanceOf<Class>& instance = instance_of<Class>(object.get());
    new (&instance.borrow) BorrowFlag(0);
    try {
        new (&instance.value) Value(make());
    } catch (...) {
        new (&instance.value) Value(Class::blank());
        throw;
    }
    return object;
}

// The allocation slot: an instance holding the blank value. The classes have
// no items, so the count the interpreter passes is always 0.
template <BindingClass Class>
PyObject* alloc_entry(PyTypeObject* type, Py_ssize_t /*items*/) noexcept {
    return guard_object([&] { return new_instance<Class>(type, &Class::blank); });
}

// A new instance of Class holding a copy of `value` (its type object created
// on first use).
template <BindingClass Class>
PyResult<Ref> new_instance_holding(const typename Class::Value& value) {
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, Class::type());
    return new_instance<Class>(type, [&value] { return value; });
}

template <BindingClass Class>
PyResult<bool> is_instance(PyObject* object) {
    KAV_PY_TRY_ASSIGN(PyTypeObject * type, Class::type());
    // The classes cannot be subclassed, so the exact type decides.
    return Py_TYPE(object) == type;
}

// A copy of the value of `object`, which must be an instance of Class; read
// under a shared borrow of that object.
template <BindingClass Class>
PyResult<typename Class::Value> read_argument(PyObject* object) {
    KAV_PY_TRY_ASSIGN(bool matches, is_instance<Class>(object));
    if (!matches) return fail(type_mismatch(object, Class::name));
    InstanceOf<Class>& instance = instance_of<Class>(object);
    KAV_PY_TRY_ASSIGN(SharedBorrow borrow, SharedBorrow::take(instance.borrow));
    return instance.value;
}

// The deallocation slot: destroy the value allocation constructed (or what
// replaced it), free the memory with the type's own free function, then drop
// the instance's reference to its heap type.
template <BindingClass Class>
void dealloc_entry(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    InstanceOf<Class>& instance = instance_of<Class>(self);
    using Value = typename Class::Value;
    instance.value.~Value();
    instance.borrow.~BorrowFlag();
    // Every type object of Class inherits object's free function, so it is
    // looked up once, not on every deallocation.
    static const auto free_memory = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_memory(self);
    Py_DecRef(reinterpret_cast<PyObject*>(type));
}

}  // namespace kav::py
