// The eight-character body of an `id` token: prefix byte, then address.
#include "aprs_types.hpp"
#include "utf8.hpp"

namespace kav {

Result<KAVBeaconID, KAVBeaconIDError> parse_beacon_id_body(std::string_view text) {
    constexpr std::size_t kPrefixLength = KAVBeaconID::kPrefixLength;
    if (text.size() != KAVBeaconID::kTextLength) {
        // The candidate becomes owned text, which is always valid UTF-8.
        return Err(KAVBeaconIDError{KAVBeaconIDError::InvalidFormat{lossy_utf8(text)}});
    }
    // Split by bytes, not characters: a multi-byte character straddling the
    // prefix/address border leaves non-hex bytes on both sides, and the
    // hexadecimal rule rejects them.
    const auto prefix_byte = prefix_byte_from_hex(text.substr(0, kPrefixLength));
    if (!prefix_byte) return Err(KAVBeaconIDError{prefix_byte.error()});
    const auto address = ICAOAddress::from_hex(text.substr(kPrefixLength));
    if (!address) return Err(KAVBeaconIDError{address.error()});
    return KAVBeaconID{KAVIDPrefix::from_byte(prefix_byte.value()), address.value()};
}

}  // namespace kav
