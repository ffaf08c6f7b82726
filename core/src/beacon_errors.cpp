// Kinds of failed parses. Their messages are rendered with the rest of the
// error text, in debug_text.cpp.
#include "beacon_errors.hpp"

namespace kav {

std::string_view error_kind_name(std::uint8_t kind) noexcept {
    if (kind == kMissingIdKind) return "MissingKAVBeaconID";
    return name(static_cast<ParseErrorVariant>(kind));
}

}  // namespace kav
