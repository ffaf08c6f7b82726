// The `id` token around its body; the body itself is decoded by the model.
#include "parse_beacon_id.hpp"

#include <string>

#include "parse_bytes.hpp"
#include "utf8.hpp"

namespace kav {
namespace {

constexpr std::string_view kTag = "id";
constexpr std::size_t kBodyLength = 8;
constexpr std::size_t kPrefixLength = 2;

Err<ParseErrorKind> invalid_id(std::string_view input, std::string_view message) {
    return Err(ParseErrorKind::with_context(ParseErrorVariant::InvalidKAVBeaconId,
                                            context_with_message(input, message)));
}

}  // namespace

Result<KAVBeaconID, ParseErrorKind> parse_beacon_id_token(std::string_view token) {
    if (token.substr(0, kTag.size()) != kTag || token.size() < kTag.size() + kBodyLength) {
        return invalid_id(token, "invalid kav beacon id format");
    }
    std::string_view body = token.substr(kTag.size(), kBodyLength);
    // A body that is not text is decoded as the empty text, which then fails
    // for its length.
    if (!is_valid_utf8(body)) body = {};
    if (!body.empty() && is_continuation_byte(body[kPrefixLength])) {
        return invalid_id(body, "invalid kav beacon id: character split across prefix and address");
    }
    auto id = parse_beacon_id_body(body);
    if (!id) return invalid_id(body, std::string("invalid kav beacon id: ") + id.error().message());
    return id.value();
}

}  // namespace kav
