// The structural rendering of parse errors that users read after
// "Parse error: ". Quoted texts escape anything invisible or combining, so a
// message can never smuggle a line break or hide a character.
//
// A rendering is written into room made for it at once: its size when every
// quoted text is plain, which is exact for nearly every error, so a failed
// line costs one growth of the output instead of a check and a copy call per
// part of its message. An escape, longer than what it stands for, makes room
// for the difference.
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <variant>

#include "aprs_types.hpp"
#include "beacon_errors.hpp"
#include "plain_ascii.hpp"
#include "unicode_tables.hpp"
#include "utf8.hpp"
#include "utf8_decode.hpp"

namespace kav {
namespace {

// Where a rendering is written: room at the end of a string, filled from the
// front and trimmed to what was written by finish().
class Cursor {
  public:
    Cursor(std::string& out, std::size_t room) : out_(out) {
        const std::size_t start = out.size();
        out.resize(start + room);
        at_ = out.data() + start;
    }
    void finish() { out_.resize(static_cast<std::size_t>(at_ - out_.data())); }
    void make_room(std::size_t more) {
        const auto written = at_ - out_.data();
        out_.resize(out_.size() + more);
        at_ = out_.data() + written;
    }

    char* at() const noexcept { return at_; }
    void advance(std::size_t bytes) noexcept { at_ += bytes; }
    void put(std::string_view text) noexcept {
        if (text.empty()) return;  // the view may have no address
        std::memcpy(at_, text.data(), text.size());
        at_ += text.size();
    }
    void put(char byte) noexcept { *at_++ = byte; }

  private:
    std::string& out_;
    char* at_;
};

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

// The rendering of one code point, whose bytes in the text are `bytes`: an
// escape, written into `escape`, or a replacement or the bytes themselves.
std::string_view render_code_point(char32_t cp, std::string_view bytes,
                                   std::array<char, 12>& escape) noexcept {
    if (const std::string_view short_form = short_escape(cp); !short_form.empty()) {
        return short_form;
    }
    if (!is_printable(cp) || is_grapheme_extend(cp)) {
        constexpr std::string_view kOpen = "\\u{";
        std::memcpy(escape.data(), kOpen.data(), kOpen.size());
        char* end = std::to_chars(escape.data() + kOpen.size(), escape.data() + escape.size() - 1,
                                  static_cast<std::uint32_t>(cp), 16)
                        .ptr;
        *end++ = '}';
        return std::string_view(escape.data(), static_cast<std::size_t>(end - escape.data()));
    }
    // Also covers ill-formed bytes, which decode to U+FFFD.
    if (cp == kReplacementCharacter) return kReplacementCharacterUtf8;
    return bytes;
}

// `text`, which starts with a byte that is not plain ASCII, as it stands
// between the quotes. Room was made for its bytes as they are; an escape
// longer than what it stands for makes the difference. Kept out of line, so
// that the common case stays small enough to inline.
[[gnu::noinline]] void render_escaped(Cursor& out, std::string_view text) {
    std::array<char, 12> escape;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        const char32_t cp = decode_next(text, pos);
        const std::string_view bytes = text.substr(start, pos - start);
        const std::string_view rendered = render_code_point(cp, bytes, escape);
        if (rendered.size() > bytes.size()) out.make_room(rendered.size() - bytes.size());
        out.put(rendered);
        const std::size_t run = copy_plain_ascii(out.at(), text.substr(pos));
        out.advance(run);
        pos += run;
    }
}

// Each kind of value has its size when all its quoted texts are plain, and
// its rendering.

std::size_t plain_size(std::string_view quoted) noexcept { return quoted.size() + 2; }

void render(Cursor& out, std::string_view quoted) {
    out.put('"');
    const std::size_t run = copy_plain_ascii(out.at(), quoted);
    out.advance(run);
    if (run < quoted.size()) render_escaped(out, quoted.substr(run));
    out.put('"');
}

constexpr std::string_view kContextOpen = "APRSParseContext { input: ";
constexpr std::string_view kContextBetween = ", message: ";
constexpr std::string_view kContextClose = " }";

std::size_t plain_size(const APRSParseContext& context) noexcept {
    return kContextOpen.size() + plain_size(context.input) + kContextBetween.size() +
           plain_size(context.message) + kContextClose.size();
}

void render(Cursor& out, const APRSParseContext& context) {
    out.put(kContextOpen);
    render(out, context.input);
    out.put(kContextBetween);
    render(out, context.message);
    out.put(kContextClose);
}

// The variant's name around its payload: a context, or UnknownError's text.
std::size_t plain_size(const ParseErrorKind& kind) noexcept {
    const auto* context = std::get_if<APRSParseContext>(&kind.payload);
    return name(kind.variant).size() + 2 +
           (context != nullptr ? plain_size(*context)
                               : plain_size(std::get<std::string>(kind.payload)));
}

void render(Cursor& out, const ParseErrorKind& kind) {
    out.put(name(kind.variant));
    out.put('(');
    if (const auto* context = std::get_if<APRSParseContext>(&kind.payload)) {
        render(out, *context);
    } else {
        render(out, std::get<std::string>(kind.payload));
    }
    out.put(')');
}

constexpr std::string_view kErrorOpen = "ParseError(";
constexpr std::string_view kMissingId = "MissingKAVBeaconID";

std::size_t plain_size(const BeaconParseError& error) noexcept {
    const auto* kind = std::get_if<ParseErrorKind>(&error.value);
    return kind != nullptr ? kErrorOpen.size() + plain_size(*kind) + 1 : kMissingId.size();
}

void render(Cursor& out, const BeaconParseError& error) {
    if (const auto* kind = std::get_if<ParseErrorKind>(&error.value)) {
        out.put(kErrorOpen);
        render(out, *kind);
        out.put(')');
    } else {
        out.put(kMissingId);
    }
}

// The message a failed parse is reported with.
struct ErrorMessage {
    const BeaconParseError& error;
};

constexpr std::string_view kMessagePrefix = "Parse error: ";

std::size_t plain_size(const ErrorMessage& message) noexcept {
    return kMessagePrefix.size() + plain_size(message.error);
}

void render(Cursor& out, const ErrorMessage& message) {
    out.put(kMessagePrefix);
    render(out, message.error);
}

template <class Value>
void append_rendering(std::string& out, const Value& value) {
    Cursor cursor(out, plain_size(value));
    render(cursor, value);
    cursor.finish();
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) { append_rendering(out, text); }

void append_debug_text(std::string& out, const APRSParseContext& context) {
    append_rendering(out, context);
}

void append_debug_text(std::string& out, const ParseErrorKind& kind) {
    append_rendering(out, kind);
}

void append_debug_text(std::string& out, const BeaconParseError& error) {
    append_rendering(out, error);
}

void append_error_message(std::string& out, const BeaconParseError& error) {
    append_rendering(out, ErrorMessage{error});
}

}  // namespace kav
