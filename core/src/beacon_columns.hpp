// The two tables that decoding many lines fills: one row per decoded beacon,
// one row per line that failed. Each table's fields are listed once, below;
// that list declares the columns, fills them from a parse, and drives every
// reader that walks them (the Arrow export among them), in the listed order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "aprs_types.hpp"
#include "beacon_errors.hpp"
#include "column_types.hpp"
#include "parse.hpp"

namespace kav {

using ProtocolMembers = EnumMembers<KAVAPRSProtocol, kAllAPRSProtocols>;
using AircraftTypeMembers = EnumMembers<KAVAircraftType, kAllAircraftTypes>;
using AddressTypeMembers = EnumMembers<KAVAddressType, kAllAddressTypes>;

// The error kinds, indexed by their code.
struct ErrorKindMembers {
    using Value = std::uint8_t;
    static constexpr std::size_t kCount = kBeaconErrorKindCount;

    static constexpr std::int8_t index(std::uint8_t kind) noexcept {
        return static_cast<std::int8_t>(kind);
    }
    static constexpr std::uint8_t value(std::size_t index) noexcept {
        return static_cast<std::uint8_t>(index);
    }
    static std::string_view text(std::size_t index) noexcept {
        return error_kind_name(static_cast<std::uint8_t>(index));
    }
};

// X(name, column type, Arrow format of the column, value of the row). The
// value is an expression in the arguments of the table's append(): for a
// beacon, `line_number` and `beacon` (the parse); for an error, `line_number`,
// `error` and `line` (the raw bytes, without the line end).
#define KAV_BEACON_FIELDS(X)                                                                  \
    X(line_number, ValueColumn<std::uint64_t>, "L", line_number)                              \
    X(callsign, TextColumn, "u", beacon.callsign)                                             \
    X(q_construct, TextColumn, "u", beacon.q_construct)                                       \
    X(receiver, TextColumn, "u", beacon.receiver)                                             \
    X(kav_aprs_protocol, DictionaryColumn<ProtocolMembers>, "c", beacon.kav_aprs_protocol)    \
    X(time, ValueColumn<std::int32_t>, "tts", static_cast<std::int32_t>(beacon.time.seconds)) \
    X(latitude, ValueColumn<double>, "g", beacon.latitude)                                    \
    X(longitude, ValueColumn<double>, "g", beacon.longitude)                                  \
    X(ground_track, ValueColumn<double>, "g", beacon.ground_track)                            \
    X(ground_speed, ValueColumn<double>, "g", beacon.ground_speed)                            \
    X(gps_altitude, ValueColumn<double>, "g", beacon.gps_altitude)                            \
    X(aircraft_type, DictionaryColumn<AircraftTypeMembers>, "c",                              \
      beacon.kav_beacon_id.prefix.aircraft_type)                                              \
    X(address_type, DictionaryColumn<AddressTypeMembers>, "c",                                \
      beacon.kav_beacon_id.prefix.address_type)                                               \
    X(no_track, FlagColumn, "b", beacon.kav_beacon_id.prefix.no_track)                        \
    X(stealth_mode, FlagColumn, "b", beacon.kav_beacon_id.prefix.stealth_mode)                \
    X(address, ValueColumn<std::uint32_t>, "I", beacon.kav_beacon_id.icao_address.value())

#define KAV_ERROR_FIELDS(X)                                                   \
    X(line_number, ValueColumn<std::uint64_t>, "L", line_number)              \
    X(error_kind, DictionaryColumn<ErrorKindMembers>, "c", failure.kind())    \
    X(error, TextColumn, "u", failure)                                        \
    X(line, TextColumn, "z", line)

#define KAV_COLUMN_READER(name, Column, format, value) \
    const Column& name() const noexcept {              \
        return name##_;                                \
    }
#define KAV_COLUMN_VISIT(name, Column, format, value) visit(#name, format, name##_);
#define KAV_FIELD_VISIT(name, Column, format, value) \
    visit(#name, format, std::type_identity<Column>{});
#define KAV_FIELD_COUNT(name, Column, format, value) +1
#define KAV_FIELD_NAME(name, Column, format, value) std::string_view(#name),
#define KAV_COLUMN_RESERVE(name, Column, format, value) reserve_column(name##_, rows, text_bytes);
#define KAV_COLUMN_APPEND(name, Column, format, value) append_value(name##_, value);
#define KAV_COLUMN_MEMBER(name, Column, format, value) Column name##_;

// A table of the columns FIELDS lists; `append` takes the arguments its
// values are written in. Readers get the columns through a const reference.
#define KAV_DEFINE_COLUMN_SET(Name, FIELDS, ...)                                                   \
    class Name {                                                                                   \
      public:                                                                                      \
        static constexpr std::size_t kColumns = 0 FIELDS(KAV_FIELD_COUNT);                         \
        /* The column names in the listed order, for compile-time checks.        */                \
        static constexpr std::array<std::string_view, kColumns> kNames{FIELDS(KAV_FIELD_NAME)};    \
        /* visit(name, Arrow format, std::type_identity<column type>) for each    */               \
        /* field, in the listed order; name and format are string literals.       */               \
        template <class Visit>                                                                     \
        static void for_each_field(Visit&& visit){                                                 \
            FIELDS(KAV_FIELD_VISIT)} FIELDS(KAV_COLUMN_READER) std::size_t rows() const noexcept { \
            return line_number_.size();                                                            \
        }                                                                                          \
        /* visit(name, Arrow format, column) for each column, likewise.          */                \
        template <class Visit>                                                                     \
        void for_each_column(Visit&& visit) const {                                                \
            FIELDS(KAV_COLUMN_VISIT)                                                               \
        }                                                                                          \
        /* Room for `rows` rows and `text_bytes` bytes in each text column.      */                \
        void reserve(std::size_t rows, std::size_t text_bytes) { FIELDS(KAV_COLUMN_RESERVE) }      \
        void append(__VA_ARGS__) { FIELDS(KAV_COLUMN_APPEND) }                                     \
                                                                                                   \
      private:                                                                                     \
        template <class Column>                                                                    \
        static void reserve_column(Column& column, std::size_t rows, std::size_t text_bytes) {     \
            column.reserve(rows);                                                                  \
            if constexpr (requires { column.reserve_bytes(text_bytes); }) {                        \
                column.reserve_bytes(text_bytes);                                                  \
            }                                                                                      \
        }                                                                                          \
        template <class Column, class Value>                                                       \
        static void append_value(Column& column, const Value& value) {                             \
            if constexpr (requires { value.append_to(std::declval<std::string&>()); }) {           \
                column.append_rendered(value);                                                     \
            } else {                                                                               \
                column.append(value);                                                              \
            }                                                                                      \
        }                                                                                          \
        FIELDS(KAV_COLUMN_MEMBER)                                                                  \
    };

KAV_DEFINE_COLUMN_SET(BeaconColumns, KAV_BEACON_FIELDS, std::uint64_t line_number,
                      const AircraftBeaconView& beacon)
KAV_DEFINE_COLUMN_SET(ErrorColumns, KAV_ERROR_FIELDS, std::uint64_t line_number,
                      const LineFailure& failure, std::string_view line)

#undef KAV_DEFINE_COLUMN_SET
#undef KAV_COLUMN_READER
#undef KAV_COLUMN_VISIT
#undef KAV_FIELD_VISIT
#undef KAV_FIELD_COUNT
#undef KAV_FIELD_NAME
#undef KAV_COLUMN_RESERVE
#undef KAV_COLUMN_APPEND
#undef KAV_COLUMN_MEMBER

}  // namespace kav
