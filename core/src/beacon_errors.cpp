// Kinds and messages of failed parses.
#include "beacon_errors.hpp"

namespace kav {

std::string_view error_kind_name(std::uint8_t kind) noexcept {
    if (kind == kMissingIdKind) return "MissingKAVBeaconID";
    return name(static_cast<ParseErrorVariant>(kind));
}

void append_error_message(std::string& out, const BeaconParseError& error) {
    out += "Parse error: ";
    append_debug_text(out, error);
}

}  // namespace kav
