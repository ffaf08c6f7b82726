// Renderings of the records for their repr.
#include "repr_text.hpp"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "shortest_decimal.hpp"

namespace kav::repr {
namespace {

// A positive finite double as its shortest round-trip digits d0 d1 d2 ... and
// the decimal exponent of d0, so that value = d0.d1d2... x 10^exponent.
struct ShortestDigits {
    char digits[32];
    std::size_t count;
    int exponent;

    std::string_view all() const noexcept { return {digits, count}; }
};

ShortestDigits shortest_digits(double magnitude) noexcept {
    const ShortestDecimal decimal = shortest_decimal(magnitude);
    ShortestDigits result{};
    result.count = static_cast<std::size_t>(
        std::to_chars(result.digits, result.digits + sizeof result.digits, decimal.digits).ptr -
        result.digits);
    result.exponent = decimal.exponent + static_cast<int>(result.count) - 1;
    return result;
}

void append_scientific(std::string& out, const ShortestDigits& d) {
    out += d.digits[0];
    if (d.count > 1) {
        out += '.';
        out.append(d.digits + 1, d.count - 1);
    }
    out += 'e';
    char exponent[8];
    out.append(exponent, std::to_chars(exponent, exponent + sizeof exponent, d.exponent).ptr);
}

void append_fixed(std::string& out, const ShortestDigits& d) {
    const std::string_view digits = d.all();
    if (d.exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
        out += digits;
        return;
    }
    const auto integer_count = static_cast<std::size_t>(d.exponent) + 1;
    if (digits.size() <= integer_count) {
        out += digits;
        out.append(integer_count - digits.size(), '0');
        out += ".0";
        return;
    }
    out += digits.substr(0, integer_count);
    out += '.';
    out += digits.substr(integer_count);
}

void append_zero_padded(std::string& out, std::uint32_t value, std::size_t width) {
    char text[16];
    const auto written = std::to_chars(text, text + sizeof text, value).ptr;
    const auto length = static_cast<std::size_t>(written - text);
    if (length < width) out.append(width - length, '0');
    out.append(text, length);
}

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

void append_double(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::signbit(value)) out += '-';
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        out += "inf";
    } else if (magnitude == 0.0) {
        out += "0.0";
    } else if (magnitude < 1e-4 || magnitude >= 1e16) {
        append_scientific(out, shortest_digits(magnitude));
    } else {
        append_fixed(out, shortest_digits(magnitude));
    }
}

void append_time_of_day(std::string& out, TimeOfDay time) {
    const bool leap_second = time.leap_second();
    const std::uint32_t fraction = time.fraction_nanoseconds();
    append_zero_padded(out, time.seconds / 3600, 2);
    out += ':';
    append_zero_padded(out, time.seconds / 60 % 60, 2);
    out += ':';
    append_zero_padded(out, time.seconds % 60 + (leap_second ? 1u : 0u), 2);
    if (fraction == 0) return;
    out += '.';
    if (fraction % 1'000'000 == 0) {
        append_zero_padded(out, fraction / 1'000'000, 3);
    } else if (fraction % 1000 == 0) {
        append_zero_padded(out, fraction / 1000, 6);
    } else {
        append_zero_padded(out, fraction, 9);
    }
}

std::string repr_text(const ICAOAddress& address) {
    return "PyICAOAddress(" + std::to_string(address.value()) + ")";
}

std::string repr_text(const KAVIDPrefix& prefix) {
    return structure("PyKAVIDPrefix", {{"aircraft_type", text_form(prefix.aircraft_type)},
                                       {"address_type", text_form(prefix.address_type)},
                                       {"no_track", flag(prefix.no_track)},
                                       {"stealth_mode", flag(prefix.stealth_mode)}});
}

std::string repr_text(const KAVBeaconID& id) {
    return structure("PyKAVBeaconID", {{"prefix", repr_text(id.prefix)},
                                       {"icao_address", repr_text(id.icao_address)}});
}

std::string repr_text(const AircraftBeacon& beacon) {
    std::string out = "PyAircraftBeacon { callsign: ";
    append_quoted(out, beacon.callsign);
    out += ", q_construct: ";
    append_quoted(out, beacon.q_construct);
    out += ", receiver: ";
    append_quoted(out, beacon.receiver);
    out += ", kav_aprs_protocol: ";
    out += text_form(beacon.kav_aprs_protocol);
    out += ", time: ";
    append_time_of_day(out, beacon.time);
    const std::pair<std::string_view, double> numbers[] = {
        {"latitude", beacon.latitude},         {"longitude", beacon.longitude},
        {"ground_track", beacon.ground_track}, {"ground_speed", beacon.ground_speed},
        {"gps_altitude", beacon.gps_altitude},
    };
    for (const auto& [name, value] : numbers) {
        out += ", ";
        out += name;
        out += ": ";
        append_double(out, value);
    }
    out += ", kav_beacon_id: ";
    out += repr_text(beacon.kav_beacon_id);
    out += " }";
    return out;
}

}  // namespace kav::repr
