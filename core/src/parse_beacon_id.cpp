// The `id` token around its body; the body itself is decoded by the model.
#include "parse_beacon_id.hpp"

#include <array>
#include <cstdint>
#include <string>

#include "parse_bytes.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

constexpr std::string_view kTag = "id";
constexpr std::size_t kBodyLength = 8;
constexpr std::size_t kPrefixLength = 2;

// Each byte's value as a hexadecimal digit, or a value with the high bit set
// for every other byte.
constexpr std::array<std::uint8_t, 256> kHexDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    values.fill(0x80);
    const auto assign = [&values](std::string_view digits, std::uint8_t first_value) {
        for (const char c : digits) values[static_cast<unsigned char>(c)] = first_value++;
    };
    assign("0123456789", 0);
    assign("abcdef", 10);
    assign("ABCDEF", 10);
    return values;
}();

// Nearly every body is eight hex digits: the prefix byte and the address in
// one 32-bit number, decoded here without a branch per digit. Any other body,
// valid or not, is left to the body decoder.
bool decode_plain_body(std::string_view body, std::uint32_t& packed) noexcept {
    std::uint32_t digits = 0;
    std::uint8_t not_hex = 0;
    for (const char c : body) {
        const std::uint8_t value = kHexDigitValues[static_cast<unsigned char>(c)];
        not_hex |= value;
        digits = (digits << 4) | (value & 0x0Fu);
    }
    packed = digits;
    return (not_hex & 0x80) == 0;
}

Err<ParseErrorKind> invalid_id(std::string_view input, std::string_view message) {
    return Err(ParseErrorKind::with_context(ParseErrorVariant::InvalidKAVBeaconId,
                                            context_with_message(input, message)));
}

}  // namespace

Result<KAVBeaconID, ParseErrorKind> parse_beacon_id_token(std::string_view token) {
    if (token.size() < kTag.size() + kBodyLength || !token.starts_with(kTag)) {
        return invalid_id(token, "invalid kav beacon id format");
    }
    std::string_view body = first_bytes(bytes_after(token, kTag.size()), kBodyLength);
    if (std::uint32_t packed = 0; decode_plain_body(body, packed)) {
        constexpr unsigned kAddressBits = 24;
        return KAVBeaconID{
            KAVIDPrefix::from_byte(static_cast<std::uint8_t>(packed >> kAddressBits)),
            ICAOAddress::new_(packed & ICAOAddress::kLimit).value()};
    }
    if (!is_ascii(body)) {
        // A body that is not text is decoded as the empty text, which then
        // fails for its length.
        if (!is_valid_utf8(body)) {
            body = {};
        } else if (is_continuation_byte(body[kPrefixLength])) {
            return invalid_id(body,
                              "invalid kav beacon id: character split across prefix and address");
        }
    }
    auto id = parse_beacon_id_body(body);
    if (!id) return invalid_id(body, std::string("invalid kav beacon id: ") + id.error().message());
    return id.value();
}

}  // namespace kav
