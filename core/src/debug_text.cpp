// The structural rendering of parse errors that users read after
// "Parse error: ". Quoted texts escape anything invisible or combining, so a
// message can never smuggle a line break or hide a character.
#include <charconv>
#include <cstdint>
#include <cstring>

#include "aprs_types.hpp"
#include "unicode_tables.hpp"
#include "utf8.hpp"
#include "utf8_decode.hpp"

namespace kav {
namespace {

void append_code_point_escape(std::string& out, char32_t cp) {
    char digits[8];
    const auto [end, ec] =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(cp), 16);
    out += "\\u{";
    out.append(digits, end);
    out += '}';
}

// The escapes with a one-letter form; empty for every other code point. The
// single quote has none: it needs no escape inside double quotes.
constexpr std::string_view short_escape(char32_t cp) noexcept {
    switch (cp) {
        case U'\0':
            return "\\0";
        case U'\t':
            return "\\t";
        case U'\r':
            return "\\r";
        case U'\n':
            return "\\n";
        case U'\\':
            return "\\\\";
        case U'"':
            return "\\\"";
        default:
            return {};
    }
}

// Printable ASCII other than the two quoted-string metacharacters stands for
// itself. Error contexts are mostly such bytes (the rest of a line), so runs
// of them are copied whole instead of decoded one code point at a time.
constexpr bool is_plain_ascii(char byte) noexcept {
    return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

constexpr std::uint64_t kEveryByte = 0x0101010101010101;
constexpr std::uint64_t kHighBits = 0x8080808080808080;

// Whether any of the eight bytes of `word` is not plain ASCII. Each term sets
// the high bit of a byte that fails one condition; a borrow or carry between
// bytes can only start at a byte that already failed, so "any" is exact.
constexpr bool has_non_plain_byte(std::uint64_t word) noexcept {
    const auto zero_bytes = [](std::uint64_t w) { return (w - kEveryByte) & ~w; };
    const std::uint64_t at_or_above_0x80 = word;
    const std::uint64_t below_space = (word - kEveryByte * 0x20) & ~word;
    const std::uint64_t is_delete = word + kEveryByte;  // 0x7F + 1 = 0x80
    const std::uint64_t is_quote = zero_bytes(word ^ (kEveryByte * '"'));
    const std::uint64_t is_backslash = zero_bytes(word ^ (kEveryByte * '\\'));
    return ((at_or_above_0x80 | below_space | is_delete | is_quote | is_backslash) & kHighBits) !=
           0;
}

// The length of the run of plain ASCII at the start of `text`, read eight
// bytes at a time while whole words of it remain.
std::size_t plain_ascii_run(std::string_view text) noexcept {
    std::size_t pos = 0;
    for (; text.size() - pos >= sizeof(std::uint64_t); pos += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + pos, sizeof word);
        if (has_non_plain_byte(word)) break;
    }
    while (pos < text.size() && is_plain_ascii(text[pos])) ++pos;
    return pos;
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
    out.reserve(out.size() + text.size() + 2);
    out += '"';
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        pos += plain_ascii_run(text.substr(pos));
        if (pos > start) {
            out.append(text.substr(start, pos - start));
            continue;
        }
        const char32_t cp = decode_next(text, pos);
        if (const std::string_view escape = short_escape(cp); !escape.empty()) {
            out += escape;
        } else if (!is_printable(cp) || is_grapheme_extend(cp)) {
            append_code_point_escape(out, cp);
        } else if (cp == kReplacementCharacter) {
            // Also covers ill-formed bytes, which decode to U+FFFD.
            out += kReplacementCharacterUtf8;
        } else {
            out.append(text.substr(start, pos - start));
        }
    }
    out += '"';
}

void append_debug_text(std::string& out, const APRSParseContext& context) {
    out += "APRSParseContext { input: ";
    append_quoted(out, context.input);
    out += ", message: ";
    append_quoted(out, context.message);
    out += " }";
}

void append_debug_text(std::string& out, const ParseErrorKind& kind) {
    out += name(kind.variant);
    out += '(';
    if (const auto* text = std::get_if<std::string>(&kind.payload)) {
        append_quoted(out, *text);
    } else {
        append_debug_text(out, std::get<APRSParseContext>(kind.payload));
    }
    out += ')';
}

void append_debug_text(std::string& out, const BeaconParseError& error) {
    if (const auto* kind = std::get_if<ParseErrorKind>(&error.value)) {
        // Room for the texts and the words around them, so that the string
        // grows once rather than at every level of the rendering.
        constexpr std::size_t kStructureBytes = 80;
        const auto* context = std::get_if<APRSParseContext>(&kind->payload);
        const std::size_t texts = context != nullptr
                                      ? context->input.size() + context->message.size()
                                      : std::get<std::string>(kind->payload).size();
        out.reserve(out.size() + texts + kStructureBytes);
        out += "ParseError(";
        append_debug_text(out, *kind);
        out += ')';
    } else {
        out += "MissingKAVBeaconID";
    }
}

}  // namespace kav
