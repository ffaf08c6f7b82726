// Floats written the way Python's repr() writes them, so that a number in the
// JSON lines and CSV reads exactly as a Python user of the per-line module
// sees it: the shortest digits that read back to the same double, in fixed
// notation from 1e-4 up to below 1e16 (always with a fractional part, "90.0"),
// in exponent notation outside that ("1e+16", "1.5e-05").
#pragma once

#include <string>

namespace kav {

// Appends the repr() text of a finite `value`. NaN and the infinities have no
// number form in the outputs that use this; callers write them as words.
void append_float_repr(std::string& out, double value);

}  // namespace kav
