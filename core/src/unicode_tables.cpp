// Range lookups over the generated Unicode property tables.
#include "unicode_tables.hpp"

#include <algorithm>
#include <iterator>

namespace kav {
namespace {

struct CodePointRange {
    char32_t first;
    char32_t last;
};

#include "unicode_tables_generated.inc"

template <std::size_t N>
bool in_ranges(const CodePointRange (&ranges)[N], char32_t cp) noexcept {
    // The first range that starts after cp; only its predecessor can hold cp.
    const auto* after = std::upper_bound(
        std::begin(ranges), std::end(ranges), cp,
        [](char32_t value, const CodePointRange& range) { return value < range.first; });
    return after != std::begin(ranges) && cp <= std::prev(after)->last;
}

}  // namespace

bool is_printable(char32_t cp) noexcept {
    // Nearly every quoted text is ASCII; spare those the table search.
    if (cp >= 0x20 && cp <= 0x7E) return true;
    return !in_ranges(kNonPrintableRanges, cp);
}

bool is_grapheme_extend(char32_t cp) noexcept {
    if (cp < 0x300) return false;  // the first Grapheme_Extend code point is U+0300
    return in_ranges(kGraphemeExtendRanges, cp);
}

}  // namespace kav
