// Structure renderings of the identifier values.
#include "identifier_repr.hpp"

#include <initializer_list>
#include <string_view>
#include <utility>

namespace kav::repr {

namespace {

using Field = std::pair<std::string_view, std::string_view>;

// "Name { a: 1, b: 2 }"
std::string structure(std::string_view name, std::initializer_list<Field> fields) {
    std::string text(name);
    text += " { ";
    bool first = true;
    for (const auto& [field, value] : fields) {
        if (!first) text += ", ";
        first = false;
        text += field;
        text += ": ";
        text += value;
    }
    text += " }";
    return text;
}

std::string_view flag(bool value) {
    return value ? "true" : "false";
}

}  // namespace

std::string repr_text(const kav::ICAOAddress& address) {
    return "PyICAOAddress(" + std::to_string(address.value()) + ")";
}

std::string repr_text(const kav::KAVIDPrefix& prefix) {
    return structure("PyKAVIDPrefix", {{"aircraft_type", kav::text_form(prefix.aircraft_type)},
                                       {"address_type", kav::text_form(prefix.address_type)},
                                       {"no_track", flag(prefix.no_track)},
                                       {"stealth_mode", flag(prefix.stealth_mode)}});
}

std::string repr_text(const kav::KAVBeaconID& id) {
    return structure("PyKAVBeaconID", {{"prefix", repr_text(id.prefix)},
                                       {"icao_address", repr_text(id.icao_address)}});
}

}  // namespace kav::repr
