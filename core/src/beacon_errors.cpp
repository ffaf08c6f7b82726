// Kinds of failed lines. The messages of failed parses are rendered with the
// rest of the error text, in debug_text.cpp.
#include "beacon_errors.hpp"

namespace kav {

std::string_view error_kind_name(std::uint8_t kind) noexcept {
    if (kind == kMissingIdKind) return "MissingKAVBeaconID";
    if (kind == kLineTooLongKind) return "LineTooLong";
    return name(static_cast<ParseErrorVariant>(kind));
}

void LineFailure::append_to(std::string& out) const {
    if (error_ != nullptr) {
        append_error_message(out, *error_);
        return;
    }
    out.append(error_kind_name(kind_))
        .append(": a line of ")
        .append(std::to_string(length_))
        .append(" bytes, cut at ")
        .append(std::to_string(limit_));
}

}  // namespace kav
