// The header of a beacon line: callsign ">" destination "," q-construct ","
// receiver ":". Defined here, like the other field parsers, because every
// line runs through all of them: inlined into the driver they cost no calls
// and no copies of their results.
#pragma once

#include <array>
#include <string_view>
#include <utility>

#include "aprs_types.hpp"
#include "parse_bytes.hpp"
#include "parse_step.hpp"
#include "utf8.hpp"

namespace kav {

// A text field that runs up to its separator, and how its failure reads.
struct HeaderField {
    char separator;
    ParseErrorVariant variant;
    std::string_view message;
};

inline constexpr HeaderField kCallsignField{'>', ParseErrorVariant::InvalidCallsign,
                                            "invalid callsign"};
inline constexpr HeaderField kQConstructField{',', ParseErrorVariant::InvalidQConstruct,
                                              "invalid q construct"};
inline constexpr HeaderField kReceiverField{':', ParseErrorVariant::InvalidReceiver,
                                            "invalid receiver"};

// The bytes before the first separator, which must be strict UTF-8; the rest
// starts after the separator. Nothing is trimmed: blanks, control bytes and
// other separators belong to the field. A failure's input is all of `input`.
[[gnu::always_inline]] inline Parsed<std::string_view> scan_header_field(
    std::string_view input, const HeaderField& field) noexcept {
    // One pass finds the separator and notes any byte above ASCII: header
    // fields are short and nearly always ASCII, which needs no decoding.
    unsigned char high_bits = 0;
    std::size_t end = 0;
    for (; end < input.size() && input[end] != field.separator; ++end) {
        high_bits |= static_cast<unsigned char>(input[end]);
    }
    const std::string_view text = first_bytes(input, end);
    if (end == input.size() || (high_bits >= 0x80 && !is_valid_utf8(text))) {
        return FieldError{field.variant, input, field.message};
    }
    return {text, bytes_after(input, end + 1)};
}

// The destination identifier up to the next ",", which must be exactly one of
// the protocol names (case-sensitive).
[[gnu::always_inline]] inline Parsed<KAVAPRSProtocol> parse_aprs_protocol(
    std::string_view input) noexcept {
    static constexpr std::array<std::pair<std::string_view, KAVAPRSProtocol>, 3> kProtocols{{
        {"KAADSB", KAVAPRSProtocol::KAADSB},
        {"KAFLR", KAVAPRSProtocol::KAFLR},
        {"KAVSKY", KAVAPRSProtocol::KAVSKY},
    }};
    // A name followed directly by "," is exactly what the search for the
    // first "," would find; checked first, it spares that search on nearly
    // every line.
    for (const auto& [name, protocol] : kProtocols) {
        if (input.size() > name.size() && input.starts_with(name) && input[name.size()] == ',') {
            return {protocol, bytes_after(input, name.size() + 1)};
        }
    }
    const std::size_t end = input.find(',');
    if (end == std::string_view::npos)
        return FieldError{ParseErrorVariant::UnknownError, input, {}};
    const std::string_view identifier = first_bytes(input, end);
    // An identifier that is not text is reported as the empty text, never as
    // replacement characters.
    return FieldError{ParseErrorVariant::InvalidKAVAprsProtocol,
                      is_valid_utf8(identifier) ? identifier : std::string_view{},
                      "Unsupported KAV APRS Protocol"};
}

}  // namespace kav
