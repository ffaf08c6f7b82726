// Floats written the way Python's repr() writes them, so that a number in the
// JSON lines and CSV reads exactly as a Python user of the per-line module
// sees it: the shortest digits that read back to the same double, in fixed
// notation from 1e-4 up to below 1e16 (always with a fractional part, "90.0"),
// in exponent notation outside that ("1e+16", "1.5e-05").
#pragma once

#include <cstddef>
#include <string>

namespace kav {

// The room write_float_repr needs at `out`, with a margin: it writes at most
// 24 characters ("-2.2250738585072014e-308").
inline constexpr std::size_t kFloatReprMaxChars = 48;

// Writes the repr() text of a finite `value` at `out`, which has room for
// kFloatReprMaxChars, and returns the end of it. NaN and the infinities have
// no number form in the outputs that use this; callers write them as words.
char* write_float_repr(char* out, double value) noexcept;

// The same, appended to a string.
void append_float_repr(std::string& out, double value);

}  // namespace kav
