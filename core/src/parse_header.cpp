// Header fields: separator scans with strict UTF-8 checks, and the protocol table.
#include "parse_header.hpp"

#include <array>
#include <utility>

#include "utf8.hpp"

namespace kav {

Parsed<std::string_view> scan_header_field(std::string_view input,
                                           const HeaderField& field) noexcept {
    const std::size_t end = input.find(field.separator);
    if (end == std::string_view::npos || !is_valid_utf8(input.substr(0, end))) {
        return FieldError{field.variant, input, field.message};
    }
    return {input.substr(0, end), input.substr(end + 1)};
}

Parsed<KAVAPRSProtocol> parse_aprs_protocol(std::string_view input) noexcept {
    static constexpr std::array<std::pair<std::string_view, KAVAPRSProtocol>, 3> kProtocols{{
        {"KAADSB", KAVAPRSProtocol::KAADSB},
        {"KAFLR", KAVAPRSProtocol::KAFLR},
        {"KAVSKY", KAVAPRSProtocol::KAVSKY},
    }};
    const std::size_t end = input.find(',');
    if (end == std::string_view::npos)
        return FieldError{ParseErrorVariant::UnknownError, input, {}};
    const std::string_view identifier = input.substr(0, end);
    for (const auto& [name, protocol] : kProtocols) {
        if (identifier == name) return {protocol, input.substr(end + 1)};
    }
    // An identifier that is not text is reported as the empty text, never as
    // replacement characters.
    return FieldError{ParseErrorVariant::InvalidKAVAprsProtocol,
                      is_valid_utf8(identifier) ? identifier : std::string_view{},
                      "Unsupported KAV APRS Protocol"};
}

}  // namespace kav
