// LazyType: a class's type object, created from its PyType_Spec on first use
// and kept for the life of the process.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "instance.hpp"
#include "once_cache.hpp"

namespace kav::py {

// Attributes set on the class right after it is created (the members of an
// enumeration): make(type, i) builds the value of names[i]. It receives the
// new type object because asking the LazyType for it would wait on itself.
// The values are kept with the type object, created with it or not at all.
struct ClassAttributes {
    std::span<const char* const> names;
    PyResult<Ref> (*make)(PyTypeObject* type, std::size_t index) = nullptr;
};

// The flags every class of this module has: no base-type flag (cannot be
// subclassed) and no GC flag (instances reference no other Python objects).
inline constexpr unsigned int kClassFlags = Py_TPFLAGS_DEFAULT;

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

// The PyType_Spec of a class whose instances hold a Class::Value.
template <BindingClass Class>
constexpr PyType_Spec instance_spec(PyType_Slot* slots, unsigned int extra_flags = 0) noexcept {
    return {kQualifiedName<Class>.data(), static_cast<int>(sizeof(InstanceOf<Class>)), 0,
            kClassFlags | extra_flags, slots};
}

class LazyType {
  public:
    LazyType(std::string_view class_name, PyType_Spec& spec,
             ClassAttributes attributes = {}) noexcept
        : class_name_(class_name), spec_(spec), attributes_(attributes) {}

    // Borrowed: the cache keeps the type object alive. When memory runs out
    // while it is created, the caller gets that MemoryError and a later call
    // tries again; any other failure to create it is reported as unraisable
    // and fails the caller with an internal failure. Inline: every new
    // instance asks for its type.
    PyResult<PyTypeObject*> get() {
        return cache_.get_or_init([this]() { return create(); });
    }

    // The value that class attribute `index` was created with: the same
    // object for the life of the process, whatever Python code later binds to
    // that name on the class.
    PyResult<Ref> attribute_value(std::size_t index) {
        KAV_PY_TRY(get());
        return Ref::borrow(attribute_values_[index]);
    }

  private:
    PyResult<PyTypeObject*> create();
    PyResult<std::vector<Ref>> add_class_attributes(PyTypeObject* type);
    PyResult<PyTypeObject*> creation_failed(PendingError error);

    std::string_view class_name_;
    PyType_Spec& spec_;
    ClassAttributes attributes_;
    OnceCache<PyTypeObject*> cache_;
    // Written once, by the creation that fills the cache, before it does.
    std::vector<PyObject*> attribute_values_;
};

}  // namespace kav::py
