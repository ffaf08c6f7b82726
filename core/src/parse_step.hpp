// The outcome of one parsing step: a value and the unconsumed rest of the
// line, or a compact description of the failure.
//
// Field parsers run on every line and must not allocate, so a failure names
// only static texts and a view of the caller's bytes; the driver turns the one
// failure that ends a parse into a ParseErrorKind, allocating once.
#pragma once

#include <string_view>

#include "aprs_types.hpp"
#include "parse_bytes.hpp"

namespace kav {

// Texts of failed low-level matching steps, shared by several fields.
inline constexpr std::string_view kEofMessage = "nom error: Eof";
inline constexpr std::string_view kTakeUntilMessage = "nom error: TakeUntil";

struct FieldError {
    ParseErrorVariant variant = ParseErrorVariant::UnknownError;
    // The bytes that become the context input (for UnknownError, the text).
    std::string_view input;
    // A static text; unused for UnknownError, which carries no message.
    std::string_view message;
};

template <class T>
struct Parsed {
    constexpr Parsed(T parsed, std::string_view remaining) noexcept
        : value(parsed), rest(remaining), ok(true) {}
    constexpr Parsed(FieldError failure) noexcept : error(failure) {}

    T value{};
    std::string_view rest;  // the bytes after the field, when ok
    FieldError error;       // why the step failed, when !ok
    bool ok = false;
};

// The error value that a failed step reports. Allocates its texts.
ParseErrorKind to_parse_error(const FieldError& error);

// Drops the first byte, whatever its value: bytes the line format reserves for
// things this system does not read.
[[gnu::always_inline]] constexpr Parsed<char> skip_one_byte(std::string_view rest) noexcept {
    if (rest.empty())
        return FieldError{ParseErrorVariant::UnexpectedEndOfMessage, rest, kEofMessage};
    return {rest.front(), bytes_after(rest, 1)};
}

}  // namespace kav
