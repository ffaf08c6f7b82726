// Identifier constructors and prefix byte decoding.
#include "aprs_types.hpp"

namespace kav {

Result<ICAOAddress, ICAOAddressError> ICAOAddress::from_hex(std::string_view text) noexcept {
    std::uint32_t value = 0;
    if (!parse_hex_u32(text, value)) return Err(ICAOAddressError::invalid_hex_format());
    return new_(value);
}

Result<std::uint8_t, KAVIDPrefixError> prefix_byte_from_hex(std::string_view text) noexcept {
    std::uint8_t byte = 0;
    if (!parse_hex_u8(text, byte)) return Err(KAVIDPrefixError{});
    return byte;
}

}  // namespace kav
