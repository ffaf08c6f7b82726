// The `id` token around its body; the body itself is decoded by the model.
#include "parse_beacon_id.hpp"

#include <string>

#include "parse_bytes.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

using beacon_id_token::kBodyLength;
using beacon_id_token::kTag;
constexpr std::size_t kPrefixLength = KAVBeaconID::kPrefixLength;

Err<ParseErrorKind> invalid_id(std::string_view input, std::string_view message) {
    return Err(ParseErrorKind::with_context(ParseErrorVariant::InvalidKAVBeaconId,
                                            context_with_message(input, message)));
}

}  // namespace

Result<KAVBeaconID, ParseErrorKind> parse_beacon_id_token(std::string_view token) {
    if (token.size() < kTag.size() + kBodyLength || !token.starts_with(kTag)) {
        return invalid_id(token, "invalid kav beacon id format");
    }
    if (const auto packed = read_plain_beacon_id(token)) return beacon_id_of_packed(*packed);
    std::string_view body = first_bytes(bytes_after(token, kTag.size()), kBodyLength);
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
