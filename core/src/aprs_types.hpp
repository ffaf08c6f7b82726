// The beacon model: the values a parse produces and the errors it reports,
// with the exact texts users see. No interpreter dependency.
//
// Byte strings are passed as std::string_view: the view may hold any bytes,
// not only UTF-8. Owned texts (std::string) in records are always valid UTF-8.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "result.hpp"

namespace kav {

// ---------------------------------------------------------------------------
// Enumerations. Each is written once, as rows of (member, code, Python name);
// the member's name is its text form ("TowPlane", "KAVTracker", "KAFLR"), the
// name every diagnostic rendering prints. The rows declare the enumeration and
// its table of members in code order, from which the text forms, the Python
// classes' members and the columns' dictionaries are all taken.

#define KAV_AIRCRAFT_TYPE_ROWS(ROW)                                      \
    ROW(Reserved, 0, "RESERVED")                                         \
    ROW(Glider, 1, "GLIDER")                                             \
    ROW(TowPlane, 2, "TOW_PLANE")                                        \
    ROW(Helicopter, 3, "HELICOPTER")                                     \
    ROW(Parachute, 4, "PARACHUTE")                                       \
    ROW(DropPlane, 5, "DROP_PLANE")                                      \
    ROW(HangGlider, 6, "HANG_GLIDER")                                    \
    ROW(Paraglider, 7, "PARAGLIDER")                                     \
    ROW(ReciprocatingEngineAircraft, 8, "RECIPROCATING_ENGINE_AIRCRAFT") \
    ROW(JetTurbopropAircraft, 9, "JET_TURBOPROP_AIRCRAFT")               \
    ROW(Unknown, 10, "UNKNOWN")                                          \
    ROW(Balloon, 11, "BALLOON")                                          \
    ROW(Airship, 12, "AIRSHIP")                                          \
    ROW(UAVs, 13, "UA_VS")                                               \
    /* Code 14 has no member. */                                         \
    ROW(StaticObstacle, 15, "STATIC_OBSTACLE")

#define KAV_ADDRESS_TYPE_ROWS(ROW) \
    ROW(Unknown, 0, "UNKNOWN")     \
    ROW(ICAO, 1, "ICAO")           \
    ROW(FLARM, 2, "FLARM")         \
    ROW(KAVTracker, 3, "KAV_TRACKER")

#define KAV_APRS_PROTOCOL_ROWS(ROW) \
    ROW(KAADSB, 0, "KAADSB")        \
    ROW(KAFLR, 1, "KAFLR")          \
    ROW(KAVSKY, 2, "KAVSKY")

// One member of an enumeration with its two names.
template <class Enum>
struct EnumRow {
    Enum member;
    std::string_view text_form;
    const char* python_name;
};

#define KAV_ENUMERATOR(member, code, python_name) member = code,
#define KAV_ENUM_ROW(member, code, python_name) {Enum::member, #member, python_name},

enum class KAVAircraftType : std::uint8_t { KAV_AIRCRAFT_TYPE_ROWS(KAV_ENUMERATOR) };
enum class KAVAddressType : std::uint8_t { KAV_ADDRESS_TYPE_ROWS(KAV_ENUMERATOR) };
enum class KAVAPRSProtocol : std::uint8_t { KAV_APRS_PROTOCOL_ROWS(KAV_ENUMERATOR) };

// The rows of each enumeration, in code order.
template <class Enum>
struct EnumRows;
template <>
struct EnumRows<KAVAircraftType> {
    using Enum = KAVAircraftType;
    static constexpr auto rows =
        std::to_array<EnumRow<Enum>>({KAV_AIRCRAFT_TYPE_ROWS(KAV_ENUM_ROW)});
};
template <>
struct EnumRows<KAVAddressType> {
    using Enum = KAVAddressType;
    static constexpr auto rows =
        std::to_array<EnumRow<Enum>>({KAV_ADDRESS_TYPE_ROWS(KAV_ENUM_ROW)});
};
template <>
struct EnumRows<KAVAPRSProtocol> {
    using Enum = KAVAPRSProtocol;
    static constexpr auto rows =
        std::to_array<EnumRow<Enum>>({KAV_APRS_PROTOCOL_ROWS(KAV_ENUM_ROW)});
};

#undef KAV_ENUMERATOR
#undef KAV_ENUM_ROW

// One of the enumerations above.
template <class Enum>
concept Enumeration = requires {
    EnumRows<Enum>::rows;
};

template <Enumeration Enum>
inline constexpr const auto& kEnumRows = EnumRows<Enum>::rows;

template <Enumeration Enum>
constexpr std::uint8_t code(Enum member) noexcept {
    return static_cast<std::uint8_t>(member);
}

// Codes strictly rising: no member twice, and rows in code order.
template <Enumeration Enum>
constexpr bool in_code_order() noexcept {
    for (std::size_t i = 1; i < kEnumRows<Enum>.size(); ++i) {
        if (code(kEnumRows<Enum>[i - 1].member) >= code(kEnumRows<Enum>[i].member)) return false;
    }
    return true;
}
static_assert(kEnumRows<KAVAircraftType>.size() == 15 && in_code_order<KAVAircraftType>());
static_assert(code(kEnumRows<KAVAircraftType>.back().member) == 15);
static_assert(kEnumRows<KAVAddressType>.size() == 4 && in_code_order<KAVAddressType>());
static_assert(code(kEnumRows<KAVAddressType>.back().member) == 3);
static_assert(kEnumRows<KAVAPRSProtocol>.size() == 3 && in_code_order<KAVAPRSProtocol>());
static_assert(code(kEnumRows<KAVAPRSProtocol>.back().member) == 2);

// Every member, in code order.
template <Enumeration Enum>
inline constexpr auto kAllMembers = [] {
    std::array<Enum, kEnumRows<Enum>.size()> members{};
    for (std::size_t i = 0; i < members.size(); ++i) members[i] = kEnumRows<Enum>[i].member;
    return members;
}();
inline constexpr const auto& kAllAircraftTypes = kAllMembers<KAVAircraftType>;
inline constexpr const auto& kAllAddressTypes = kAllMembers<KAVAddressType>;
inline constexpr const auto& kAllAPRSProtocols = kAllMembers<KAVAPRSProtocol>;

// The row of `member`; every value ever built has one.
template <Enumeration Enum>
constexpr const EnumRow<Enum>& row_of(Enum member) noexcept {
    for (const EnumRow<Enum>& row : kEnumRows<Enum>) {
        if (row.member == member) return row;
    }
    return kEnumRows<Enum>[0];
}

template <Enumeration Enum>
constexpr std::string_view text_form(Enum member) noexcept {
    return row_of(member).text_form;
}

// ---------------------------------------------------------------------------
// Errors of building identifiers. Plain values; message() is their display text.

struct ICAOAddressError {
    enum class Kind : std::uint8_t { InvalidHexFormat, ExceedsLimit };
    Kind kind;
    std::uint32_t value = 0;  // the offending value, for ExceedsLimit

    static constexpr ICAOAddressError invalid_hex_format() noexcept {
        return {Kind::InvalidHexFormat, 0};
    }
    static constexpr ICAOAddressError exceeds_limit(std::uint32_t v) noexcept {
        return {Kind::ExceedsLimit, v};
    }
    // "Invalid hexadecimal format", or for ExceedsLimit:
    // "Value 0x1000000 (16777216) exceeds 24-bit ICAO address limit (0xFFFFFF)".
    std::string message() const;
    friend bool operator==(const ICAOAddressError&, const ICAOAddressError&) = default;
};

struct KAVIDPrefixError {
    enum class Kind : std::uint8_t { InvalidHexFormat };
    Kind kind = Kind::InvalidHexFormat;

    std::string message() const;  // "Invalid hexadecimal format"
    friend bool operator==(const KAVIDPrefixError&, const KAVIDPrefixError&) = default;
};

struct KAVBeaconIDError {
    struct InvalidFormat {
        std::string candidate;  // the body text that was not eight bytes long
        friend bool operator==(const InvalidFormat&, const InvalidFormat&) = default;
    };
    std::variant<KAVIDPrefixError, ICAOAddressError, InvalidFormat> cause;

    // The payload's own text for Prefix and Address; for InvalidFormat
    // "Invalid beacon format: " followed by the candidate text.
    std::string message() const;
    friend bool operator==(const KAVBeaconIDError&, const KAVBeaconIDError&) = default;
};

// ---------------------------------------------------------------------------
// Identifiers.

// Hexadecimal rule shared by the address and the prefix byte: one optional
// leading '+', then one or more ASCII hex digits (either case), read most
// significant first; the number must fit the width. Nothing else is accepted.
bool parse_hex_u32(std::string_view text, std::uint32_t& out) noexcept;
bool parse_hex_u8(std::string_view text, std::uint8_t& out) noexcept;

// Each byte's value as a hexadecimal digit, or a value with the high bit set
// for every other byte: the one digit decoder of the hexadecimal rule and of
// the parser's fast path for `id` tokens.
inline constexpr std::array<std::uint8_t, 256> kHexDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    values.fill(0x80);
    const auto assign = [&values](std::string_view digits, std::uint8_t first_value) {
        for (const char c : digits) values[static_cast<unsigned char>(c)] = first_value++;
    };
    assign("0123456789", 0);
    assign("abcdef", 10);
    assign("ABCDEF", 10);
    return values;
}();

// A 24-bit ICAO aircraft address; no operation yields one above kLimit.
class ICAOAddress {
  public:
    static constexpr std::uint32_t kLimit = 0xFFFFFF;

    // `new` is reserved in C++, hence the trailing underscore. Defined here
    // because every parsed line builds one: out of line, its result went
    // through memory in a way that stalled the caller's load.
    static Result<ICAOAddress, ICAOAddressError> new_(std::uint32_t value) noexcept {
        if (value > kLimit) return Err(ICAOAddressError::exceeds_limit(value));
        return ICAOAddress(value);
    }
    static Result<ICAOAddress, ICAOAddressError> from_hex(std::string_view text) noexcept;

    constexpr std::uint32_t value() const noexcept { return value_; }
    friend bool operator==(const ICAOAddress&, const ICAOAddress&) = default;

  private:
    constexpr explicit ICAOAddress(std::uint32_t v) noexcept : value_(v) {}
    std::uint32_t value_;
};

// The decoded ID prefix byte.
struct KAVIDPrefix {
    KAVAircraftType aircraft_type;
    KAVAddressType address_type;
    bool no_track;
    bool stealth_mode;

    // Bit 7 stealth, bit 6 no-track, bits 5-2 aircraft type code (14 maps to
    // Reserved), bits 1-0 address type code. Defined here, like
    // ICAOAddress::new_, because every parsed line decodes one.
    static constexpr KAVIDPrefix from_byte(std::uint8_t byte) noexcept {
        // Every code is its member's value, except that code 14 has no member
        // of its own and reads as Reserved, like code 0.
        constexpr unsigned kCodeWithoutMember = 14;
        const unsigned type_code = (byte >> 2) & 0x0Fu;
        return KAVIDPrefix{
            .aircraft_type = type_code == kCodeWithoutMember
                                 ? KAVAircraftType::Reserved
                                 : static_cast<KAVAircraftType>(type_code),
            .address_type = kAllAddressTypes[byte & 0x03u],
            .no_track = (byte & 0x40u) != 0,
            .stealth_mode = (byte & 0x80u) != 0,
        };
    }
    friend bool operator==(const KAVIDPrefix&, const KAVIDPrefix&) = default;
};

// The prefix byte read from hexadecimal text by the rule above.
Result<std::uint8_t, KAVIDPrefixError> prefix_byte_from_hex(std::string_view text) noexcept;

struct KAVBeaconID {
    // Its text: the prefix byte in two hex characters, then the address in six.
    static constexpr std::size_t kTextLength = 8;
    static constexpr std::size_t kPrefixLength = 2;

    KAVIDPrefix prefix;
    ICAOAddress icao_address;
    friend bool operator==(const KAVBeaconID&, const KAVBeaconID&) = default;
};

// The eight-character body of an `id` token: two hex characters of prefix
// byte, six of address. Allocates only to build an error.
Result<KAVBeaconID, KAVBeaconIDError> parse_beacon_id_body(std::string_view text);

// ---------------------------------------------------------------------------
// The record of a successful parse.

// Time of day: whole seconds since midnight and a sub-second part in
// nanoseconds (1e9 or more marks a leap second in the last second of a minute).
struct TimeOfDay {
    static constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;

    std::uint32_t seconds = 0;
    std::uint32_t nanoseconds = 0;

    // A leap second is second 59 with a fraction of a second or more: the
    // 60th second, which has no place in `seconds`.
    constexpr bool leap_second() const noexcept { return nanoseconds >= kNanosPerSecond; }
    // The fraction of the second itself, whether a leap second or not.
    constexpr std::uint32_t fraction_nanoseconds() const noexcept {
        return leap_second() ? nanoseconds - kNanosPerSecond : nanoseconds;
    }
    friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

// One parsed beacon. `Text` is std::string for the record that owns its
// texts, std::string_view for a parse result that still points into the line.
template <class Text>
struct BasicAircraftBeacon {
    Text callsign;
    Text q_construct;
    Text receiver;
    KAVAPRSProtocol kav_aprs_protocol;
    TimeOfDay time;
    double latitude;
    double longitude;
    double ground_track;
    double ground_speed;
    double gps_altitude;
    KAVBeaconID kav_beacon_id;
    // Doubles compare by IEEE rules: NaN equals nothing, 0.0 equals -0.0.
    friend bool operator==(const BasicAircraftBeacon&, const BasicAircraftBeacon&) = default;
};

using AircraftBeacon = BasicAircraftBeacon<std::string>;

// ---------------------------------------------------------------------------
// Parse errors.

struct APRSParseContext {
    std::string input;    // lossy UTF-8 text of the bytes where the failure was found
    std::string message;  // short description
    friend bool operator==(const APRSParseContext&, const APRSParseContext&) = default;
};

// The kind of a failed low-level matching step.
enum class ParseErrorVariant : std::uint8_t {
    UnknownError = 0,
    UnexpectedEndOfMessage = 1,
    MissingSeparator = 2,
    InvalidQConstruct = 3,
    InvalidReceiver = 4,
    InvalidCallsign = 5,
    InvalidKAVAprsProtocol = 6,
    InvalidTimestamp = 7,
    InvalidLatitude = 8,
    InvalidLongitude = 9,
    InvalidGroundTrack = 10,
    InvalidGroundSpeed = 11,
    InvalidGPSAltitude = 12,
    InvalidKAVBeaconId = 13,
};
std::string_view name(ParseErrorVariant variant) noexcept;  // "InvalidCallsign", ...

// What went wrong. UnknownError carries a text, every other variant a context.
struct ParseErrorKind {
    ParseErrorVariant variant;
    std::variant<std::string, APRSParseContext> payload;

    static ParseErrorKind unknown_error(std::string text);
    static ParseErrorKind with_context(ParseErrorVariant variant, APRSParseContext context);
    friend bool operator==(const ParseErrorKind&, const ParseErrorKind&) = default;
};

struct MissingKAVBeaconID {
    friend bool operator==(const MissingKAVBeaconID&, const MissingKAVBeaconID&) = default;
};

// The error result of a whole parse: a field could not be read (ParseErrorKind)
// or the line had no `id` token (MissingKAVBeaconID).
struct BeaconParseError {
    std::variant<ParseErrorKind, MissingKAVBeaconID> value;
    friend bool operator==(const BeaconParseError&, const BeaconParseError&) = default;
};

// Context construction rules.
// A step with its own message: input = lossy text of `bytes`.
APRSParseContext context_with_message(std::string_view bytes, std::string_view message);

// ---------------------------------------------------------------------------
// Debug text: the rendering users see after "Parse error: ".

// Appends `text` (valid UTF-8) as a quoted text: in double quotes, with \0 \t
// \r \n \\ \" escapes and \u{hex} for non-printable and Grapheme_Extend code points.
void append_quoted(std::string& out, std::string_view text);

// Appended to `out`: a rendering nested in another, or behind a prefix, is
// written into one string instead of one per level.
void append_debug_text(std::string& out, const APRSParseContext& context);
void append_debug_text(std::string& out, const ParseErrorKind& kind);
void append_debug_text(std::string& out, const BeaconParseError& error);

// The rendering of an APRSParseContext, ParseErrorKind or BeaconParseError alone.
template <class Error>
std::string debug_text(const Error& error) {
    std::string out;
    append_debug_text(out, error);
    return out;
}

}  // namespace kav
