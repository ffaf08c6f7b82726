// Shortest round-trip digits come from std::to_chars; only the layout of
// those digits follows Python's rules.
#include "float_repr.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace kav {
namespace {

// Python writes a value in fixed notation while the position of its decimal
// point, counted from the first digit, lies in (kLowestFixed, kHighestFixed].
constexpr int kLowestFixed = -4;
constexpr int kHighestFixed = 16;

// Integral doubles below this are exact and their shortest digits are the
// integer itself, so they skip the general path; beacon lines are full of them.
constexpr double kExactIntegers = 1e15;

char* copy(char* out, const char* from, std::size_t count) noexcept {
    std::memcpy(out, from, count);
    return out + count;
}

// The significant digits of a double, at most 17, padded so that they can be
// copied as one block of fixed size (inlined, unlike a copy of `count`): a
// block of 17 from any digit on stays within the padding.
struct Digits {
    static constexpr std::size_t kMost = 17;
    std::array<char, 2 * kMost> text{};
    std::size_t count = 0;

    char* put(char* out, std::size_t from) const noexcept {
        std::memcpy(out, text.data() + from, kMost);
        return out + (count - from);
    }
};

char* fill(char* out, char digit, std::size_t count) noexcept {
    std::memset(out, digit, count);
    return out + count;
}

}  // namespace

char* write_float_repr(char* out, double value) noexcept {
    if (value == std::trunc(value) && std::fabs(value) < kExactIntegers &&
        !(value == 0 && std::signbit(value))) {
        out = std::to_chars(out, out + kFloatReprMaxChars, static_cast<std::int64_t>(value)).ptr;
        return copy(out, ".0", 2);
    }
    // "-d.ddde+XX": sign, one digit, the point, up to 16 more, the exponent.
    std::array<char, kFloatReprMaxChars> scientific;
    const char* end = std::to_chars(scientific.data(), scientific.data() + scientific.size(), value,
                                    std::chars_format::scientific)
                          .ptr;
    const char* p = scientific.data();
    if (*p == '-') *out++ = *p++;
    // The significant digits without the point, then the exponent.
    Digits digits;
    for (; *p != 'e'; ++p) {
        if (*p != '.') digits.text[digits.count++] = *p;
    }
    const std::size_t count = digits.count;
    ++p;  // past 'e'
    const bool negative_exponent = *p++ == '-';
    int magnitude = 0;
    for (; p != end; ++p) magnitude = magnitude * 10 + (*p - '0');
    const int exponent = negative_exponent ? -magnitude : magnitude;
    const int point = exponent + 1;  // digits before the decimal point

    if (point <= kLowestFixed || point > kHighestFixed) {
        *out++ = digits.text[0];
        if (count > 1) {
            *out++ = '.';
            out = digits.put(out, 1);
        }
        out = copy(out, negative_exponent ? "e-" : "e+", 2);
        if (magnitude < 10) *out++ = '0';
        return std::to_chars(out, out + 4, magnitude).ptr;
    }
    if (point <= 0) {
        out = copy(out, "0.", 2);
        out = fill(out, '0', static_cast<std::size_t>(-point));
        return digits.put(out, 0);
    }
    const auto whole = static_cast<std::size_t>(point);
    if (whole >= count) {
        out = digits.put(out, 0);
        out = fill(out, '0', whole - count);
        return copy(out, ".0", 2);
    }
    // The whole digits, then all of them again from the point on.
    digits.put(out, 0);
    out += whole;
    *out++ = '.';
    return digits.put(out, whole);
}

void append_float_repr(std::string& out, double value) {
    std::array<char, kFloatReprMaxChars> text;
    out.append(text.data(), write_float_repr(text.data(), value));
}

}  // namespace kav
