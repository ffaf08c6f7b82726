// The decimal grammar is checked here, byte by byte, before the conversion:
// std::from_chars rounds correctly and ignores the locale, but it refuses a
// leading "+" and admits forms such as "nan(...)" that fields must not carry.
#include "parse_decimal.hpp"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

#include "parse_bytes.hpp"

namespace kav {
namespace {

// `lower_word` is all lower-case letters, so setting the 0x20 bit of a byte
// folds exactly the matching capital letter onto it and nothing else.
constexpr bool equals_ignoring_case(std::string_view text, std::string_view lower_word) noexcept {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((text[i] | 0x20) != lower_word[i]) return false;
    }
    return true;
}

constexpr std::size_t skip_digits(std::string_view text, std::size_t pos) noexcept {
    while (pos < text.size() && is_ascii_digit(text[pos])) ++pos;
    return pos;
}

// Digits, optional point and digits (one digit at least), optional exponent.
constexpr bool is_unsigned_decimal(std::string_view text) noexcept {
    const std::size_t integer_end = skip_digits(text, 0);
    std::size_t pos = integer_end;
    std::size_t digit_count = integer_end;
    if (pos < text.size() && text[pos] == '.') {
        const std::size_t fraction_end = skip_digits(text, pos + 1);
        digit_count += fraction_end - (pos + 1);
        pos = fraction_end;
    }
    if (digit_count == 0) return false;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
        const std::size_t exponent_end = skip_digits(text, pos);
        if (exponent_end == pos) return false;
        pos = exponent_end;
    }
    return pos == text.size();
}

// Called only for a non-zero decimal whose value lies beyond the range of a
// double, that is above 1e308 or below 1e-323: whether it is at least 1
// decides between overflow and underflow. `text` passed is_unsigned_decimal.
bool is_at_least_one(std::string_view text) noexcept {
    // The power of ten just above the leading significant digit: the value
    // is 0.d1d2... times 10 to this power.
    std::int64_t leading_power = 0;
    bool seen_significant = false;
    std::size_t pos = 0;
    for (; pos < text.size() && is_ascii_digit(text[pos]); ++pos) {
        if (seen_significant) {
            ++leading_power;
        } else if (text[pos] != '0') {
            seen_significant = true;
            leading_power = 1;
        }
    }
    if (pos < text.size() && text[pos] == '.') {
        for (++pos; pos < text.size() && is_ascii_digit(text[pos]); ++pos) {
            if (seen_significant) continue;
            if (text[pos] != '0') {
                seen_significant = true;
            } else {
                --leading_power;
            }
        }
    }
    std::int64_t exponent = 0;
    bool negative_exponent = false;
    if (pos < text.size()) {  // the exponent letter
        ++pos;
        if (text[pos] == '+' || text[pos] == '-') negative_exponent = text[pos++] == '-';
        // Saturate far beyond any digit count a line can hold.
        constexpr std::int64_t kSaturation = std::int64_t{1} << 50;
        for (; pos < text.size() && exponent < kSaturation; ++pos) {
            exponent = exponent * 10 + (text[pos] - '0');
        }
    }
    return leading_power + (negative_exponent ? -exponent : exponent) > 0;
}

}  // namespace

bool parse_decimal_general(std::string_view field, double& value) noexcept {
    std::string_view magnitude_text = field;
    bool negative = false;
    if (!magnitude_text.empty() &&
        (magnitude_text.front() == '+' || magnitude_text.front() == '-')) {
        negative = magnitude_text.front() == '-';
        magnitude_text.remove_prefix(1);
    }
    // Negating the correctly rounded magnitude is exact and keeps the sign of
    // zero, NaN and infinity alike.
    const auto accept = [negative, &value](double magnitude) {
        value = negative ? -magnitude : magnitude;
        return true;
    };

    if (equals_ignoring_case(magnitude_text, "inf") ||
        equals_ignoring_case(magnitude_text, "infinity")) {
        return accept(std::numeric_limits<double>::infinity());
    }
    if (equals_ignoring_case(magnitude_text, "nan")) {
        return accept(std::numeric_limits<double>::quiet_NaN());
    }
    if (!is_unsigned_decimal(magnitude_text)) return false;

    const char* const end = magnitude_text.data() + magnitude_text.size();
    double magnitude = 0.0;
    const auto [stop, status] = std::from_chars(magnitude_text.data(), end, magnitude);
    // The grammar above is the narrower one; should a library's from_chars
    // ever stop early, a partial read must not pass for the whole field.
    if (stop != end) return false;
    if (status == std::errc::result_out_of_range) {
        // from_chars leaves the value alone when it rounds to zero or infinity.
        magnitude = is_at_least_one(magnitude_text) ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return accept(magnitude);
}

}  // namespace kav
