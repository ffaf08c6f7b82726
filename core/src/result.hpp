// A value or an error, returned by every fallible operation of the core.
//
// The core never throws for bad input and never prints: each step hands back a
// Result and the caller decides. (std::expected would do, but clang 14, which
// builds the fuzz targets, cannot compile libstdc++'s <expected>.)
#pragma once

#include <utility>
#include <variant>

namespace kav {

template <class E>
struct Err {
#if !defined(__cpp_aggregate_paren_init)
    // Err(value) is parenthesised aggregate initialisation, which clang before
    // 16 lacks; there a constructor stands in. Elsewhere Err stays an aggregate,
    // built in place without an extra move.
    Err(E e) : error(std::move(e)) {}
#endif
    E error;
};

template <class E>
Err(E) -> Err<E>;

template <class T, class E>
class [[nodiscard]] Result {
  public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    template <class F>
    Result(Err<F> err) : v_(std::in_place_index<1>, std::move(err.error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & noexcept { return *std::get_if<0>(&v_); }
    const T& value() const& noexcept { return *std::get_if<0>(&v_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&v_)); }

    E& error() & noexcept { return *std::get_if<1>(&v_); }
    const E& error() const& noexcept { return *std::get_if<1>(&v_); }
    E&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

  private:
    std::variant<T, E> v_;
};

}  // namespace kav
