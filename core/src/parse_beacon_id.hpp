// The `id` extension token: "id", two hex characters of ID prefix byte, six
// of aircraft address, then anything.
#pragma once

#include <string_view>

#include "aprs_types.hpp"

namespace kav {

// Reads one token that starts with "id" (bytes after the eight body
// characters are ignored). The error is built here and not left to the
// driver because its text ends in the body's own description.
Result<KAVBeaconID, ParseErrorKind> parse_beacon_id_token(std::string_view token);

}  // namespace kav
