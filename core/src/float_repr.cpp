// Shortest round-trip digits come from std::to_chars; only the layout of
// those digits follows Python's rules.
#include "float_repr.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <system_error>

namespace kav {
namespace {

// Python writes a value in fixed notation while the position of its decimal
// point, counted from the first digit, lies in (kLowestFixed, kHighestFixed].
constexpr int kLowestFixed = -4;
constexpr int kHighestFixed = 16;

// Integral doubles below this are exact and their shortest digits are the
// integer itself, so they skip the general path; bench lines are full of them.
constexpr double kExactIntegers = 1e15;

void append_integer(std::string& out, std::int64_t value) {
    std::array<char, 24> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

}  // namespace

void append_float_repr(std::string& out, double value) {
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers &&
        !(value == 0 && std::signbit(value))) {
        append_integer(out, static_cast<std::int64_t>(value));
        out += ".0";
        return;
    }
    // "-d.ddde+XX": sign, one digit, the point, up to 16 more, the exponent.
    std::array<char, 32> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific);
    std::string_view scientific(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    if (scientific.front() == '-') {
        out += '-';
        scientific.remove_prefix(1);
    }
    const std::size_t e = scientific.find('e');
    int exponent = 0;
    std::from_chars(scientific.data() + e + (scientific[e + 1] == '+' ? 2 : 1),
                    scientific.data() + scientific.size(), exponent);
    // The significant digits without the point.
    std::array<char, 20> digits;
    std::size_t count = 0;
    for (const char c : scientific.substr(0, e)) {
        if (c != '.') digits[count++] = c;
    }
    const std::string_view significant(digits.data(), count);
    const int point = exponent + 1;  // digits before the decimal point

    if (point <= kLowestFixed || point > kHighestFixed) {
        out += significant.front();
        if (count > 1) {
            out += '.';
            out.append(significant.substr(1));
        }
        out += exponent < 0 ? "e-" : "e+";
        const int magnitude = exponent < 0 ? -exponent : exponent;
        if (magnitude < 10) out += '0';
        append_integer(out, magnitude);
    } else if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(significant);
    } else if (static_cast<std::size_t>(point) >= count) {
        out.append(significant);
        out.append(static_cast<std::size_t>(point) - count, '0');
        out += ".0";
    } else {
        out.append(significant.substr(0, static_cast<std::size_t>(point)));
        out += '.';
        out.append(significant.substr(static_cast<std::size_t>(point)));
    }
}

}  // namespace kav
