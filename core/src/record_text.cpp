// The two syntaxes share one walk over a table's columns: each column gets a
// cell writer chosen once per batch from its type and form, and the rows are
// then written cell by cell without looking at the column list again.
#include "record_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "beacon_columns.hpp"
#include "float_repr.hpp"
#include "utf8_decode.hpp"

namespace kav {
namespace {

constexpr std::string_view kHexDigitsLower = "0123456789abcdef";
constexpr std::string_view kHexDigitsUpper = "0123456789ABCDEF";

// The column that holds the aircraft address, which people read as hex.
constexpr std::string_view kAddressColumn = "address";
// Arrow's format of a time of day in seconds.
constexpr std::string_view kTimeOfDayFormat = "tts";

// The ASCII bytes that JSON strings escape: controls, the quote, the backslash.
constexpr bool needs_json_escape(unsigned char byte) noexcept {
    return byte < 0x20 || byte == '"' || byte == '\\';
}

void append_byte_escape(std::string& out, unsigned char byte, std::string_view backslash) {
    out += backslash;
    out += 'x';
    out += kHexDigitsLower[byte >> 4];
    out += kHexDigitsLower[byte & 0x0Fu];
}

// Copies `text`, writing each byte that is not part of a well-formed UTF-8
// sequence as `backslash` "xNN". `escape_ascii(out, byte)` writes any ASCII
// byte for which `special(byte)` holds.
template <class Special, class EscapeAscii>
void append_text(std::string& out, std::string_view text, std::string_view backslash,
                 Special special, EscapeAscii escape_ascii) {
    std::size_t run = 0;  // start of the bytes not yet copied
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80 && !special(byte)) {
            ++pos;
            continue;
        }
        if (byte >= 0x80) {
            const DecodedCodePoint decoded = decode_at(text, pos);
            if (decoded.well_formed) {
                pos += decoded.length;
                continue;
            }
            out.append(text.substr(run, pos - run));
            for (std::size_t i = 0; i < decoded.length; ++i) {
                append_byte_escape(out, static_cast<unsigned char>(text[pos + i]), backslash);
            }
            pos += decoded.length;
        } else {
            out.append(text.substr(run, pos - run));
            escape_ascii(out, byte);
            ++pos;
        }
        run = pos;
    }
    out.append(text.substr(run));
}

void append_json_escape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        case '\b': out += "\\b"; return;
        case '\f': out += "\\f"; return;
        default:
            out += "\\u00";
            out += kHexDigitsLower[byte >> 4];
            out += kHexDigitsLower[byte & 0x0Fu];
    }
}

template <class Integer>
void append_integer(std::string& out, Integer value) {
    std::array<char, 24> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), result.ptr);
}

// The syntaxes: how a text, a bare word (a text known to need no escaping,
// such as "NaN" or "12:34:56") and the frame of a row are written.
struct JsonSyntax {
    static void text(std::string& out, std::string_view value) { append_json_string(out, value); }
    static void word(std::string& out, std::string_view value) {
        out += '"';
        out += value;
        out += '"';
    }
    static std::string row_start(std::string_view source) {
        std::string start = "{\"source\": ";
        append_json_string(start, source);
        return start;
    }
    static std::string before_cell(std::string_view name) {
        std::string before = ", \"";
        before += name;
        before += "\": ";
        return before;
    }
    static constexpr std::string_view kRowEnd = "}\n";
};

struct CsvSyntax {
    static void text(std::string& out, std::string_view value) { append_csv_field(out, value); }
    static void word(std::string& out, std::string_view value) { out += value; }
    static std::string row_start(std::string_view source) {
        std::string start;
        append_csv_field(start, source);
        return start;
    }
    static std::string before_cell(std::string_view) { return ","; }
    static constexpr std::string_view kRowEnd = "\n";
};

using CellWrite = void (*)(std::string& out, const void* column, std::size_t row);

template <class Syntax>
void write_text(std::string& out, const void* column, std::size_t row) {
    Syntax::text(out, (*static_cast<const TextColumn*>(column))[row]);
}

template <class Syntax>
void write_flag(std::string& out, const void* column, std::size_t row) {
    out += (*static_cast<const FlagColumn*>(column))[row] ? "true" : "false";
}

template <class Syntax, class Column>
void write_member(std::string& out, const void* column, std::size_t row) {
    Syntax::word(out, static_cast<const Column*>(column)->text(row));
}

template <class Syntax>
void write_float(std::string& out, const void* column, std::size_t row) {
    const double value = (*static_cast<const ValueColumn<double>*>(column))[row];
    if (std::isfinite(value)) {
        append_float_repr(out, value);
    } else if (std::isnan(value)) {
        Syntax::word(out, "NaN");
    } else {
        Syntax::word(out, value > 0 ? "Infinity" : "-Infinity");
    }
}

template <class Syntax, class Integer>
void write_integer(std::string& out, const void* column, std::size_t row) {
    append_integer(out, (*static_cast<const ValueColumn<Integer>*>(column))[row]);
}

template <class Syntax, class Integer>
void write_time_of_day(std::string& out, const void* column, std::size_t row) {
    const auto seconds =
        static_cast<std::uint32_t>((*static_cast<const ValueColumn<Integer>*>(column))[row]);
    const std::uint32_t parts[] = {seconds / 3600 % 100, seconds / 60 % 60, seconds % 60};
    std::array<char, 8> text{};
    for (std::size_t i = 0; i < 3; ++i) {
        text[i * 3] = static_cast<char>('0' + parts[i] / 10);
        text[i * 3 + 1] = static_cast<char>('0' + parts[i] % 10);
        if (i < 2) text[i * 3 + 2] = ':';
    }
    Syntax::word(out, std::string_view(text.data(), text.size()));
}

template <class Syntax, class Integer>
void write_hex_address(std::string& out, const void* column, std::size_t row) {
    const auto address =
        static_cast<std::uint32_t>((*static_cast<const ValueColumn<Integer>*>(column))[row]);
    std::array<char, 6> text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = kHexDigitsUpper[(address >> (20 - 4 * i)) & 0x0Fu];
    }
    Syntax::word(out, std::string_view(text.data(), text.size()));
}

template <class Column>
struct IsValueColumn : std::false_type {};
template <class T>
struct IsValueColumn<ValueColumn<T>> : std::true_type {
    using Value = T;
};

template <class Syntax, class Column>
CellWrite cell_write_for(std::string_view name, std::string_view format) {
    if constexpr (std::is_same_v<Column, TextColumn>) {
        return &write_text<Syntax>;
    } else if constexpr (std::is_same_v<Column, FlagColumn>) {
        return &write_flag<Syntax>;
    } else if constexpr (requires { typename Column::Members; }) {
        return &write_member<Syntax, Column>;
    } else if constexpr (std::is_same_v<Column, ValueColumn<double>>) {
        return &write_float<Syntax>;
    } else {
        static_assert(IsValueColumn<Column>::value, "a column type without a text form");
        using Integer = typename IsValueColumn<Column>::Value;
        static_assert(std::is_integral_v<Integer>);
        if (format == kTimeOfDayFormat) return &write_time_of_day<Syntax, Integer>;
        if (name == kAddressColumn) return &write_hex_address<Syntax, Integer>;
        return &write_integer<Syntax, Integer>;
    }
}

struct Cell {
    std::string before;  // the separator and, in JSON, the key
    CellWrite write;
    const void* column;
};

template <class Syntax, class Table>
bool append_rows(std::string& out, const Table& table, std::string_view source,
                 const RecordSpill& spill) {
    std::vector<Cell> cells;
    cells.reserve(Table::kColumns);
    table.for_each_column([&](std::string_view name, std::string_view format, const auto& column) {
        using Column = std::decay_t<decltype(column)>;
        cells.push_back(Cell{Syntax::before_cell(name), cell_write_for<Syntax, Column>(name, format),
                             &column});
    });
    const std::string row_start = Syntax::row_start(source);
    for (std::size_t row = 0; row < table.rows(); ++row) {
        out += row_start;
        for (const Cell& cell : cells) {
            out += cell.before;
            cell.write(out, cell.column, row);
        }
        out += Syntax::kRowEnd;
        if (spill && out.size() >= kRecordSpillBytes && !spill(out)) return false;
    }
    return true;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    out += '"';
    append_text(out, text, "\\\\", needs_json_escape, append_json_escape);
    out += '"';
}

void append_csv_field(std::string& out, std::string_view text) {
    // A plain loop: find_first_of searches its set once for every byte.
    bool needs_quotes = false;
    for (const char byte : text) {
        needs_quotes = needs_quotes || byte == ',' || byte == '"' || byte == '\r' || byte == '\n';
    }
    if (!needs_quotes) {
        append_text(out, text, "\\", [](unsigned char) { return false; },
                    [](std::string&, unsigned char) {});
        return;
    }
    out += '"';
    append_text(out, text, "\\", [](unsigned char byte) { return byte == '"'; },
                [](std::string& quoted, unsigned char) { quoted += "\"\""; });
    out += '"';
}

template <class Table>
bool append_json_lines(std::string& out, const Table& table, std::string_view source,
                       const RecordSpill& spill) {
    return append_rows<JsonSyntax>(out, table, source, spill);
}

template <class Table>
void append_csv_header(std::string& out) {
    out += "source";
    Table::for_each_field([&](std::string_view name, std::string_view, auto) {
        out += ',';
        out += name;
    });
    out += '\n';
}

template <class Table>
bool append_csv_rows(std::string& out, const Table& table, std::string_view source,
                     const RecordSpill& spill) {
    return append_rows<CsvSyntax>(out, table, source, spill);
}

template bool append_json_lines(std::string&, const BeaconColumns&, std::string_view,
                                const RecordSpill&);
template bool append_json_lines(std::string&, const ErrorColumns&, std::string_view,
                                const RecordSpill&);
template void append_csv_header<BeaconColumns>(std::string&);
template void append_csv_header<ErrorColumns>(std::string&);
template bool append_csv_rows(std::string&, const BeaconColumns&, std::string_view,
                              const RecordSpill&);
template bool append_csv_rows(std::string&, const ErrorColumns&, std::string_view,
                              const RecordSpill&);

}  // namespace kav
