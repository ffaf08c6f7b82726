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
// Enumerations. The numeric value of each enumerator is its code.

enum class KAVAircraftType : std::uint8_t {
    Reserved = 0,
    Glider = 1,
    TowPlane = 2,
    Helicopter = 3,
    Parachute = 4,
    DropPlane = 5,
    HangGlider = 6,
    Paraglider = 7,
    ReciprocatingEngineAircraft = 8,
    JetTurbopropAircraft = 9,
    Unknown = 10,
    Balloon = 11,
    Airship = 12,
    UAVs = 13,
    // Code 14 has no member.
    StaticObstacle = 15,
};

enum class KAVAddressType : std::uint8_t {
    Unknown = 0,
    ICAO = 1,
    FLARM = 2,
    KAVTracker = 3,
};

enum class KAVAPRSProtocol : std::uint8_t {
    KAADSB = 0,
    KAFLR = 1,
    KAVSKY = 2,
};

// Every member, in code order.
inline constexpr std::array<KAVAircraftType, 15> kAllAircraftTypes{
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
    KAVAircraftType::StaticObstacle,
};
inline constexpr std::array<KAVAddressType, 4> kAllAddressTypes{
    KAVAddressType::Unknown, KAVAddressType::ICAO, KAVAddressType::FLARM,
    KAVAddressType::KAVTracker};
inline constexpr std::array<KAVAPRSProtocol, 3> kAllAPRSProtocols{
    KAVAPRSProtocol::KAADSB, KAVAPRSProtocol::KAFLR, KAVAPRSProtocol::KAVSKY};

constexpr std::uint8_t code(KAVAircraftType t) noexcept {
    return static_cast<std::uint8_t>(t);
}
constexpr std::uint8_t code(KAVAddressType t) noexcept {
    return static_cast<std::uint8_t>(t);
}
constexpr std::uint8_t code(KAVAPRSProtocol p) noexcept {
    return static_cast<std::uint8_t>(p);
}

// The text form of a member ("TowPlane", "KAVTracker", "KAFLR"): the name every
// diagnostic rendering prints.
std::string_view text_form(KAVAircraftType t) noexcept;
std::string_view text_form(KAVAddressType t) noexcept;
std::string_view text_form(KAVAPRSProtocol p) noexcept;

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
    std::uint32_t seconds = 0;
    std::uint32_t nanoseconds = 0;
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
enum class CombinatorErrorKind : std::uint8_t { Tag, TakeUntil, Eof };
std::string_view name(CombinatorErrorKind kind) noexcept;  // "Tag", "TakeUntil", "Eof"

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
// A failed matching step of kind `kind` with unconsumed input `rest`:
// input = lossy text of rest, message = "nom error: " + name(kind).
APRSParseContext context_from_combinator(CombinatorErrorKind kind, std::string_view rest);
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
