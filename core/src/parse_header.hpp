// The header of a beacon line: callsign ">" destination "," q-construct ","
// receiver ":".
#pragma once

#include <string_view>

#include "aprs_types.hpp"
#include "parse_step.hpp"

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
Parsed<std::string_view> scan_header_field(std::string_view input,
                                           const HeaderField& field) noexcept;

// The destination identifier up to the next ",", which must be exactly one of
// the protocol names (case-sensitive).
Parsed<KAVAPRSProtocol> parse_aprs_protocol(std::string_view input) noexcept;

}  // namespace kav
