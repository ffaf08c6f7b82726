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
