// Character properties used when quoting text in error renderings. The tables
// behind them are generated from the Unicode Character Database by
// tools/gen_unicode_tables.py and committed, so a build never needs the UCD.
#pragma once

namespace kav {

// False for the general categories Cc, Cf, Cs, Co, Cn, Zl, Zp and Zs, except
// U+0020 itself; true otherwise.
bool is_printable(char32_t cp) noexcept;

// The Grapheme_Extend property.
bool is_grapheme_extend(char32_t cp) noexcept;

}  // namespace kav
