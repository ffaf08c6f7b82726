// The error texts users read after "Parse error: ", and how texts are quoted
// inside them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "aprs_types.hpp"
#include "case_names.hpp"
#include "unicode_tables.hpp"

namespace kav {
namespace {

std::string quoted(std::string_view text) {
    std::string out;
    append_quoted(out, text);
    return out;
}

struct QuoteCase {
    std::string_view name;
    std::string_view text;
    std::string_view expected;
};

void PrintTo(const QuoteCase& c, std::ostream* out) {
    *out << c.name;
}

class QuoteTest : public testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteTest, EscapesWhatCannotBeSeen) {
    EXPECT_EQ(quoted(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, QuoteTest,
    testing::Values(QuoteCase{"Empty", "", R"("")"},
                    QuoteCase{"Plain", "KAFLR id0A", R"("KAFLR id0A")"},
                    QuoteCase{"Nul", std::string_view("a\0b", 3), R"("a\0b")"},
                    QuoteCase{"TabCrLf", "\t\r\n", R"("\t\r\n")"},
                    QuoteCase{"Backslash", "a\\b", R"("a\\b")"},
                    QuoteCase{"DoubleQuote", "say \"hi\"", R"("say \"hi\"")"},
                    QuoteCase{"SingleQuoteKept", "it's", R"("it's")"},
                    QuoteCase{"TabAndEscape", "a\tb\x1b", R"("a\tb\u{1b}")"},
                    QuoteCase{"Delete", "\x7f", R"("\u{7f}")"},
                    QuoteCase{"ReplacementCharacterKept", "\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
                    QuoteCase{"CombiningAcute", "e\xCC\x81", R"("e\u{301}")"},
                    QuoteCase{"NoBreakSpace", "\xC2\xA0", R"("\u{a0}")"},
                    QuoteCase{"ZeroWidthSpace", "\xE2\x80\x8B", R"("\u{200b}")"},
                    QuoteCase{"LineSeparator", "\xE2\x80\xA8", R"("\u{2028}")"},
                    QuoteCase{"PrivateUse", "\xEE\x80\x80", R"("\u{e000}")"},
                    QuoteCase{"Unassigned", "\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
                    QuoteCase{"PrintableNonAscii", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                              "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\""},
                    // Bytes that are not UTF-8 never pass through raw.
                    QuoteCase{"IllFormedBecomesReplacement", "a\xFF", "\"a\xEF\xBF\xBD\""}),
    test::CaseName{});

TEST(QuoteTest, AppendsToWhatIsThere) {
    std::string out = "x=";
    append_quoted(out, "y");
    EXPECT_EQ(out, R"(x="y")");
}

struct PropertyCase {
    char32_t cp;
    bool printable;
    bool grapheme_extend;
};

void PrintTo(const PropertyCase& c, std::ostream* out) {
    char text[12];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c.cp));
    *out << text;
}

class UnicodePropertyTest : public testing::TestWithParam<PropertyCase> {};

TEST_P(UnicodePropertyTest, MatchesTheCharacterDatabase) {
    EXPECT_EQ(is_printable(GetParam().cp), GetParam().printable);
    EXPECT_EQ(is_grapheme_extend(GetParam().cp), GetParam().grapheme_extend);
}

INSTANTIATE_TEST_SUITE_P(
    CodePoints, UnicodePropertyTest,
    testing::Values(PropertyCase{0x00, false, false}, PropertyCase{0x1F, false, false},
                    PropertyCase{0x20, true, false}, PropertyCase{0x7E, true, false},
                    PropertyCase{0x7F, false, false}, PropertyCase{0xA0, false, false},
                    PropertyCase{0xAD, false, false},    // soft hyphen, Cf
                    PropertyCase{0x2FF, true, false},    // just below the first mark
                    PropertyCase{0x300, true, true},     // combining grave, Mn
                    PropertyCase{0x36F, true, true},     // last of the block
                    PropertyCase{0x378, false, false},   // unassigned
                    PropertyCase{0x3000, false, false},  // ideographic space, Zs
                    PropertyCase{0x4E00, true, false},   // inside a First/Last range
                    PropertyCase{0xD800, false, false},  // surrogate
                    PropertyCase{0xE000, false, false},  // private use
                    PropertyCase{0x200C, false, true},   // ZWNJ: Cf and Grapheme_Extend
                    PropertyCase{0xFE0F, true, true},    // variation selector
                    PropertyCase{0xFFFD, true, false}, PropertyCase{0xFFFF, false, false},
                    PropertyCase{0x1F600, true, false}, PropertyCase{0xE0100, true, true},
                    PropertyCase{0x10FFFF, false, false}), test::CaseName{});

TEST(DebugTextTest, ContextInputIsLossyAndEscaped) {
    EXPECT_EQ(debug_text(context_with_message("\xFF", "invalid callsign")),
              "APRSParseContext { input: \"\xEF\xBF\xBD\", message: \"invalid callsign\" }");
    EXPECT_EQ(debug_text(context_with_message("a\"b\nc", "m")),
              R"(APRSParseContext { input: "a\"b\nc", message: "m" })");
}

struct RenderCase {
    BeaconParseError error;
    std::string_view expected;
};

void PrintTo(const RenderCase& c, std::ostream* out) {
    *out << test::quoted(c.expected);
}

class RenderTest : public testing::TestWithParam<RenderCase> {};

TEST_P(RenderTest, WholeErrorText) {
    EXPECT_EQ(debug_text(GetParam().error), GetParam().expected);
}

BeaconParseError with_context(ParseErrorVariant variant, std::string_view input,
                              std::string_view message) {
    return {ParseErrorKind::with_context(variant, context_with_message(input, message))};
}

INSTANTIATE_TEST_SUITE_P(
    Errors, RenderTest,
    testing::Values(
        RenderCase{
            with_context(ParseErrorVariant::InvalidCallsign, "", "invalid callsign"),
            R"(ParseError(InvalidCallsign(APRSParseContext { input: "", message: "invalid callsign" })))"},
        RenderCase{{ParseErrorKind::unknown_error("KAFLR")},
                   R"(ParseError(UnknownError("KAFLR")))"},
        RenderCase{{ParseErrorKind::unknown_error("a\tb\x1b")},
                   R"(ParseError(UnknownError("a\tb\u{1b}")))"},
        RenderCase{{MissingKAVBeaconID{}}, "MissingKAVBeaconID"},
        RenderCase{
            {ParseErrorKind::with_context(ParseErrorVariant::UnexpectedEndOfMessage,
                                          context_with_message("/A=00", "nom error: TakeUntil"))},
            R"(ParseError(UnexpectedEndOfMessage(APRSParseContext { input: "/A=00", message: "nom error: TakeUntil" })))"},
        RenderCase{
            with_context(ParseErrorVariant::InvalidKAVBeaconId, "",
                         "invalid kav beacon id: Invalid beacon format: "),
            R"(ParseError(InvalidKAVBeaconId(APRSParseContext { input: "", message: "invalid kav beacon id: Invalid beacon format: " })))"}),
    test::CaseName{});

TEST(VariantNameTest, EveryVariantHasItsOwnName) {
    const std::string_view expected[] = {
        "UnknownError",           "UnexpectedEndOfMessage", "MissingSeparator",
        "InvalidQConstruct",      "InvalidReceiver",        "InvalidCallsign",
        "InvalidKAVAprsProtocol", "InvalidTimestamp",       "InvalidLatitude",
        "InvalidLongitude",       "InvalidGroundTrack",     "InvalidGroundSpeed",
        "InvalidGPSAltitude",     "InvalidKAVBeaconId"};
    for (std::uint8_t number = 0; number < std::size(expected); ++number) {
        EXPECT_EQ(name(static_cast<ParseErrorVariant>(number)), expected[number]);
    }
}

}  // namespace
}  // namespace kav
