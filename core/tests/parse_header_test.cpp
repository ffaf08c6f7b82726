// Header fields: where each ends, what is strict UTF-8, and the protocol table.
#include <gtest/gtest.h>

#include <string_view>

#include "case_names.hpp"
#include "parse_header.hpp"

namespace kav {
namespace {

struct ScanCase {
    std::string_view input;
    bool ok;
    std::string_view field;  // when ok
    std::string_view rest;   // when ok
};

void PrintTo(const ScanCase& c, std::ostream* out) {
    *out << test::quoted(c.input);
}

class ScanHeaderField : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanHeaderField, StopsAtTheFirstSeparatorAndNeedsStrictUtf8) {
    const auto& c = GetParam();
    const auto field = scan_header_field(c.input, kReceiverField);
    ASSERT_EQ(field.ok, c.ok) << c.input;
    if (c.ok) {
        EXPECT_EQ(field.value, c.field);
        EXPECT_EQ(field.rest, c.rest);
    } else {
        // A failure always reports everything the scan was given.
        EXPECT_EQ(field.error.input, c.input);
        EXPECT_EQ(field.error.variant, ParseErrorVariant::InvalidReceiver);
        EXPECT_EQ(field.error.message, "invalid receiver");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Receiver, ScanHeaderField,
    testing::Values(ScanCase{"RX1:/123", true, "RX1", "/123"}, ScanCase{":", true, "", ""},
                    ScanCase{"a,b:c:d", true, "a,b", "c:d"},
                    ScanCase{" \t\r\n:x", true, " \t\r\n", "x"},
                    ScanCase{"Z\xC3\xBCrich:", true, "Z\xC3\xBCrich", ""},
                    ScanCase{"\xF0\x9F\x9B\xA9\xEF\xB8\x8F:", true, "\xF0\x9F\x9B\xA9\xEF\xB8\x8F",
                             ""},
                    // Bytes after the separator are not the field's concern.
                    ScanCase{"ok:\xFF", true, "ok", "\xFF"}, ScanCase{"", false, "", ""},
                    ScanCase{"RX1", false, "", ""}, ScanCase{"\xFF:", false, "", ""},
                    ScanCase{"\xC0\xBA:", false, "", ""},          // overlong ":"
                    ScanCase{"\xE0\x80\xBA:", false, "", ""},      // overlong, three bytes
                    ScanCase{"\xED\xA0\x80:", false, "", ""},      // surrogate U+D800
                    ScanCase{"\xED\xBF\xBF:", false, "", ""},      // surrogate U+DFFF
                    ScanCase{"\xF4\x90\x80\x80:", false, "", ""},  // above U+10FFFF
                    ScanCase{"ab\xE2\x82:", false, "", ""},        // truncated sequence
                    ScanCase{"\x80:", false, "", ""}),  // lone continuation
    test::CaseName{});

TEST(ScanHeaderField, EachFieldHasItsSeparatorAndError) {
    struct Case {
        const HeaderField& field;
        std::string_view line;
        std::string_view value;
        ParseErrorVariant variant;
        std::string_view message;
    };
    for (const auto& c : {
             Case{kCallsignField, "X1>KAFLR,q,r:", "X1", ParseErrorVariant::InvalidCallsign,
                  "invalid callsign"},
             Case{kQConstructField, "qAS,RX:", "qAS", ParseErrorVariant::InvalidQConstruct,
                  "invalid q construct"},
             Case{kReceiverField, "RX,1:", "RX,1", ParseErrorVariant::InvalidReceiver,
                  "invalid receiver"},
         }) {
        const auto ok = scan_header_field(c.line, c.field);
        ASSERT_TRUE(ok.ok) << c.line;
        EXPECT_EQ(ok.value, c.value);
        const std::string_view without_separator = c.value;
        const auto failed = scan_header_field(without_separator, c.field);
        ASSERT_FALSE(failed.ok);
        EXPECT_EQ(failed.error.variant, c.variant);
        EXPECT_EQ(failed.error.message, c.message);
    }
}

struct ProtocolCase {
    std::string_view input;
    KAVAPRSProtocol protocol;
    std::string_view rest;
};

void PrintTo(const ProtocolCase& c, std::ostream* out) {
    *out << test::quoted(c.input);
}

class ProtocolTable : public testing::TestWithParam<ProtocolCase> {};

TEST_P(ProtocolTable, MapsEachIdentifier) {
    const auto& [input, protocol, rest] = GetParam();
    const auto parsed = parse_aprs_protocol(input);
    ASSERT_TRUE(parsed.ok) << input;
    EXPECT_EQ(parsed.value, protocol);
    EXPECT_EQ(parsed.rest, rest);
}

INSTANTIATE_TEST_SUITE_P(ParseAprsProtocol, ProtocolTable,
                         testing::Values(ProtocolCase{"KAADSB,qAS", KAVAPRSProtocol::KAADSB, "qAS"},
                                         ProtocolCase{"KAFLR,", KAVAPRSProtocol::KAFLR, ""},
                                         ProtocolCase{"KAVSKY,q,r", KAVAPRSProtocol::KAVSKY,
                                                      "q,r"}), test::CaseName{});

TEST(ParseAprsProtocol, RejectsAnythingButAnExactName) {
    struct Case {
        std::string_view input;
        ParseErrorVariant variant;
        std::string_view error_input;
    };
    constexpr auto kUnsupported = ParseErrorVariant::InvalidKAVAprsProtocol;
    for (const auto& [input, variant, error_input] : {
             Case{"APRS,qAS", kUnsupported, "APRS"},
             Case{"kaflr,qAS", kUnsupported, "kaflr"},
             Case{"KAFLR ,qAS", kUnsupported, "KAFLR "},
             Case{" KAFLR,qAS", kUnsupported, " KAFLR"},
             Case{"KAFLRX,qAS", kUnsupported, "KAFLRX"},
             Case{"KAADS,qAS", kUnsupported, "KAADS"},
             Case{",qAS", kUnsupported, ""},
             Case{"KAFLR\xFF,qAS", kUnsupported, ""},
             Case{"KAFLR", ParseErrorVariant::UnknownError, "KAFLR"},
             Case{"", ParseErrorVariant::UnknownError, ""},
         }) {
        const auto parsed = parse_aprs_protocol(input);
        ASSERT_FALSE(parsed.ok) << input;
        EXPECT_EQ(parsed.error.variant, variant) << input;
        EXPECT_EQ(parsed.error.input, error_input) << input;
    }
}

}  // namespace
}  // namespace kav
