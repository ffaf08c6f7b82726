// Identifier and category types: text forms, constructors, prefix byte decoding.
#include "aprs_types.hpp"

namespace kav {

std::string_view text_form(KAVAircraftType t) noexcept {
    switch (t) {
        case KAVAircraftType::Reserved:
            return "Reserved";
        case KAVAircraftType::Glider:
            return "Glider";
        case KAVAircraftType::TowPlane:
            return "TowPlane";
        case KAVAircraftType::Helicopter:
            return "Helicopter";
        case KAVAircraftType::Parachute:
            return "Parachute";
        case KAVAircraftType::DropPlane:
            return "DropPlane";
        case KAVAircraftType::HangGlider:
            return "HangGlider";
        case KAVAircraftType::Paraglider:
            return "Paraglider";
        case KAVAircraftType::ReciprocatingEngineAircraft:
            return "ReciprocatingEngineAircraft";
        case KAVAircraftType::JetTurbopropAircraft:
            return "JetTurbopropAircraft";
        case KAVAircraftType::Unknown:
            return "Unknown";
        case KAVAircraftType::Balloon:
            return "Balloon";
        case KAVAircraftType::Airship:
            return "Airship";
        case KAVAircraftType::UAVs:
            return "UAVs";
        case KAVAircraftType::StaticObstacle:
            return "StaticObstacle";
    }
    return "Reserved";  // unreachable: no value without a member is ever built
}

std::string_view text_form(KAVAddressType t) noexcept {
    switch (t) {
        case KAVAddressType::Unknown:
            return "Unknown";
        case KAVAddressType::ICAO:
            return "ICAO";
        case KAVAddressType::FLARM:
            return "FLARM";
        case KAVAddressType::KAVTracker:
            return "KAVTracker";
    }
    return "Unknown";
}

std::string_view text_form(KAVAPRSProtocol p) noexcept {
    switch (p) {
        case KAVAPRSProtocol::KAADSB:
            return "KAADSB";
        case KAVAPRSProtocol::KAFLR:
            return "KAFLR";
        case KAVAPRSProtocol::KAVSKY:
            return "KAVSKY";
    }
    return "KAADSB";
}

Result<ICAOAddress, ICAOAddressError> ICAOAddress::new_(std::uint32_t value) noexcept {
    if (value > kLimit) return Err(ICAOAddressError::exceeds_limit(value));
    return ICAOAddress(value);
}

Result<ICAOAddress, ICAOAddressError> ICAOAddress::from_hex(std::string_view text) noexcept {
    std::uint32_t value = 0;
    if (!parse_hex_u32(text, value)) return Err(ICAOAddressError::invalid_hex_format());
    return new_(value);
}

KAVIDPrefix KAVIDPrefix::from_byte(std::uint8_t byte) noexcept {
    // Sixteen 4-bit codes onto fifteen members: code 14 has no member of its
    // own and reads as Reserved, like code 0.
    static constexpr std::array<KAVAircraftType, 16> kAircraftTypeByCode{
        KAVAircraftType::Reserved,
        KAVAircraftType::Glider,
        KAVAircraftType::TowPlane,
        KAVAircraftType::Helicopter,
        KAVAircraftType::Parachute,
        KAVAircraftType::DropPlane,
        KAVAircraftType::HangGlider,
        KAVAircraftType::Paraglider,
        KAVAircraftType::ReciprocatingEngineAircraft,
        KAVAircraftType::JetTurbopropAircraft,
        KAVAircraftType::Unknown,
        KAVAircraftType::Balloon,
        KAVAircraftType::Airship,
        KAVAircraftType::UAVs,
        KAVAircraftType::Reserved,
        KAVAircraftType::StaticObstacle,
    };
    return KAVIDPrefix{
        .aircraft_type = kAircraftTypeByCode[(byte >> 2) & 0x0Fu],
        .address_type = kAllAddressTypes[byte & 0x03u],
        .no_track = (byte & 0x40u) != 0,
        .stealth_mode = (byte & 0x80u) != 0,
    };
}

Result<std::uint8_t, KAVIDPrefixError> prefix_byte_from_hex(std::string_view text) noexcept {
    std::uint8_t byte = 0;
    if (!parse_hex_u8(text, byte)) return Err(KAVIDPrefixError{});
    return byte;
}

}  // namespace kav
