// Names of error kinds and the rules by which parsers build error contexts.
#include "aprs_types.hpp"
#include "utf8.hpp"

namespace kav {

std::string_view name(ParseErrorVariant variant) noexcept {
    switch (variant) {
        case ParseErrorVariant::UnknownError:
            return "UnknownError";
        case ParseErrorVariant::UnexpectedEndOfMessage:
            return "UnexpectedEndOfMessage";
        case ParseErrorVariant::MissingSeparator:
            return "MissingSeparator";
        case ParseErrorVariant::InvalidQConstruct:
            return "InvalidQConstruct";
        case ParseErrorVariant::InvalidReceiver:
            return "InvalidReceiver";
        case ParseErrorVariant::InvalidCallsign:
            return "InvalidCallsign";
        case ParseErrorVariant::InvalidKAVAprsProtocol:
            return "InvalidKAVAprsProtocol";
        case ParseErrorVariant::InvalidTimestamp:
            return "InvalidTimestamp";
        case ParseErrorVariant::InvalidLatitude:
            return "InvalidLatitude";
        case ParseErrorVariant::InvalidLongitude:
            return "InvalidLongitude";
        case ParseErrorVariant::InvalidGroundTrack:
            return "InvalidGroundTrack";
        case ParseErrorVariant::InvalidGroundSpeed:
            return "InvalidGroundSpeed";
        case ParseErrorVariant::InvalidGPSAltitude:
            return "InvalidGPSAltitude";
        case ParseErrorVariant::InvalidKAVBeaconId:
            return "InvalidKAVBeaconId";
    }
    return "UnknownError";
}

ParseErrorKind ParseErrorKind::unknown_error(std::string text) {
    return ParseErrorKind{ParseErrorVariant::UnknownError, std::move(text)};
}

ParseErrorKind ParseErrorKind::with_context(ParseErrorVariant variant, APRSParseContext context) {
    return ParseErrorKind{variant, std::move(context)};
}

APRSParseContext context_with_message(std::string_view bytes, std::string_view message) {
    return APRSParseContext{lossy_utf8(bytes), std::string(message)};
}

}  // namespace kav
