// One decoder of UTF-8 that knows the Unicode Standard's maximal ill-formed
// subparts; validation, lossy conversion and quoting all walk text with it, so
// they can never disagree about where a sequence ends.
#include "utf8.hpp"

#include <cstdint>
#include <cstring>

#include "utf8_decode.hpp"

namespace kav {

DecodedCodePoint decode_at(std::string_view bytes, std::size_t pos) noexcept {
    constexpr DecodedCodePoint kLoneBadByte{kReplacementCharacter, 1, false};
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    if (lead < 0x80) return {lead, 1, true};

    // The allowed range of the first continuation byte excludes overlong
    // forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
    std::size_t continuations = 0;
    char32_t cp = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        continuations = 1;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        continuations = 2;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        continuations = 3;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return kLoneBadByte;  // 80..C1 and F5..FF never start a sequence
    }

    std::uint8_t length = 1;
    for (std::size_t i = 0; i < continuations; ++i) {
        const std::size_t next = pos + length;
        if (next >= bytes.size()) return {kReplacementCharacter, length, false};
        const auto byte = static_cast<unsigned char>(bytes[next]);
        // The bytes read so far are the maximal subpart: they are replaced as
        // one unit and the offending byte is looked at afresh.
        if (byte < low || byte > high) return {kReplacementCharacter, length, false};
        cp = (cp << 6) | (byte & 0x3Fu);
        ++length;
        low = 0x80;
        high = 0xBF;
    }
    return {cp, length, true};
}

namespace {

// Whether the eight bytes at `pos` are all ASCII (none has its high bit set);
// false when fewer than eight remain.
bool is_ascii_word_at(std::string_view bytes, std::size_t pos) noexcept {
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    std::uint64_t word;
    if (bytes.size() - pos < sizeof word) return false;
    std::memcpy(&word, bytes.data() + pos, sizeof word);
    return (word & kHighBits) == 0;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) noexcept {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Texts here are nearly always ASCII: skip it a word at a time.
        if (is_ascii_word_at(bytes, pos)) {
            pos += sizeof(std::uint64_t);
            continue;
        }
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const DecodedCodePoint decoded = decode_at(bytes, pos);
        if (!decoded.well_formed) return false;
        pos += decoded.length;
    }
    return true;
}

std::string lossy_utf8(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + 8);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const DecodedCodePoint decoded = decode_at(bytes, pos);
        if (decoded.well_formed) {
            text.append(bytes.substr(pos, decoded.length));
        } else {
            text.append(kReplacementCharacterUtf8);
        }
        pos += decoded.length;
    }
    return text;
}

char32_t decode_next(std::string_view text, std::size_t& pos) noexcept {
    // Ill-formed input breaks the precondition, but still yields U+FFFD and
    // progress instead of a read past the end.
    const DecodedCodePoint decoded = decode_at(text, pos);
    pos += decoded.length;
    return decoded.code_point;
}

}  // namespace kav
