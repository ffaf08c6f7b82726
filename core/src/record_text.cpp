// The two syntaxes share one walk over a table's columns: each column gets a
// cell writer chosen once per batch from its type and form, and the rows are
// then written cell by cell without looking at the column list again.
#include "record_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
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

// The most bytes one byte of a text becomes: "\u0001" in JSON.
constexpr std::size_t kMaxEscapedBytes = 6;
// Rows whose bound fits here are written on the stack, then appended at once.
constexpr std::size_t kRowBufferBytes = 4096;

char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The ASCII bytes that JSON strings escape: controls, the quote, the backslash.
constexpr bool needs_json_escape(unsigned char byte) noexcept {
    return byte < 0x20 || byte == '"' || byte == '\\';
}

char* put_byte_escape(char* out, unsigned char byte, std::string_view backslash) noexcept {
    out = put(out, backslash);
    *out++ = 'x';
    *out++ = kHexDigitsLower[byte >> 4];
    *out++ = kHexDigitsLower[byte & 0x0Fu];
    return out;
}

// Copies `text`, writing each byte that is not part of a well-formed UTF-8
// sequence as `backslash` "xNN". `escape_ascii(out, byte)` writes any ASCII
// byte for which `special(byte)` holds. `out` has room for kMaxEscapedBytes
// a byte of `text`.
//
// Eight bytes at a time are passed over while none of them is a control, a
// quote, a backslash or outside ASCII: the bytes either syntax may have to
// escape, so a word without any is copied as it is in both.
constexpr std::uint64_t kEveryByte = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = 0x8080808080808080u;

constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept {
    return (word - kEveryByte) & ~word & kHighBits;
}

// Non-zero when some byte of `word` may need escaping.
constexpr std::uint64_t may_need_escape(std::uint64_t word) noexcept {
    const std::uint64_t controls = (word - kEveryByte * 0x20) & ~word & kHighBits;
    return (word & kHighBits) | controls | zero_bytes(word ^ (kEveryByte * '"')) |
           zero_bytes(word ^ (kEveryByte * '\\'));
}

template <class Special, class EscapeAscii>
char* put_text(char* out, std::string_view text, std::string_view backslash, Special special,
               EscapeAscii escape_ascii) noexcept {
    std::size_t run = 0;  // start of the bytes not yet copied
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (text.size() - pos >= sizeof(std::uint64_t)) {
            std::uint64_t word;
            std::memcpy(&word, text.data() + pos, sizeof word);
            if (may_need_escape(word) == 0) {
                pos += sizeof word;
                continue;
            }
        }
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
            out = put(out, text.substr(run, pos - run));
            for (std::size_t i = 0; i < decoded.length; ++i) {
                out = put_byte_escape(out, static_cast<unsigned char>(text[pos + i]), backslash);
            }
            pos += decoded.length;
        } else {
            out = put(out, text.substr(run, pos - run));
            out = escape_ascii(out, byte);
            ++pos;
        }
        run = pos;
    }
    return put(out, text.substr(run));
}

char* put_json_escape(char* out, unsigned char byte) noexcept {
    switch (byte) {
        case '"': return put(out, "\\\"");
        case '\\': return put(out, "\\\\");
        case '\n': return put(out, "\\n");
        case '\r': return put(out, "\\r");
        case '\t': return put(out, "\\t");
        case '\b': return put(out, "\\b");
        case '\f': return put(out, "\\f");
        default:
            out = put(out, "\\u00");
            *out++ = kHexDigitsLower[byte >> 4];
            *out++ = kHexDigitsLower[byte & 0x0Fu];
            return out;
    }
}

char* put_json_string(char* out, std::string_view text) noexcept {
    *out++ = '"';
    out = put_text(out, text, "\\\\", needs_json_escape, put_json_escape);
    *out++ = '"';
    return out;
}

char* put_csv_field(char* out, std::string_view text) noexcept {
    // A plain loop: find_first_of searches its set once for every byte.
    bool needs_quotes = false;
    for (const char byte : text) {
        needs_quotes = needs_quotes || byte == ',' || byte == '"' || byte == '\r' || byte == '\n';
    }
    if (!needs_quotes) {
        return put_text(out, text, "\\", [](unsigned char) { return false; },
                        [](char* at, unsigned char) { return at; });
    }
    *out++ = '"';
    out = put_text(out, text, "\\", [](unsigned char byte) { return byte == '"'; },
                   [](char* at, unsigned char) { return put(at, "\"\""); });
    *out++ = '"';
    return out;
}

// Appends what `put` writes for `text`, given room for its worst case.
template <class Put>
void append_escaped(std::string& out, std::string_view text, Put put_escaped) {
    const std::size_t size = out.size();
    out.resize(size + 2 + kMaxEscapedBytes * text.size());
    char* end = put_escaped(out.data() + size, text);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

// The syntaxes: how a text, a bare word (a text known to need no escaping,
// such as "NaN" or "12:34:56") and the frame of a row are written.
struct JsonSyntax {
    static char* text(char* out, std::string_view value) noexcept {
        return put_json_string(out, value);
    }
    static char* word(char* out, std::string_view value) noexcept {
        *out++ = '"';
        out = put(out, value);
        *out++ = '"';
        return out;
    }
    static constexpr std::size_t kWordQuotes = 2;
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
    static char* text(char* out, std::string_view value) noexcept {
        return put_csv_field(out, value);
    }
    static char* word(char* out, std::string_view value) noexcept { return put(out, value); }
    static constexpr std::size_t kWordQuotes = 0;
    static std::string row_start(std::string_view source) {
        std::string start;
        append_csv_field(start, source);
        return start;
    }
    static std::string before_cell(std::string_view) { return ","; }
    static constexpr std::string_view kRowEnd = "\n";
};

// Writes the cell of `row` at `out`, which has room for the cell's bound.
using CellWrite = char* (*)(char* out, const void* column, std::size_t row) noexcept;
// The bytes of the cell of `row` beyond the fixed bound of its column.
using CellExtra = std::size_t (*)(const void* column, std::size_t row) noexcept;

template <class Syntax>
char* write_text(char* out, const void* column, std::size_t row) noexcept {
    return Syntax::text(out, (*static_cast<const TextColumn*>(column))[row]);
}

std::size_t text_extra(const void* column, std::size_t row) noexcept {
    return kMaxEscapedBytes * (*static_cast<const TextColumn*>(column))[row].size();
}

template <class Syntax>
char* write_flag(char* out, const void* column, std::size_t row) noexcept {
    return put(out, (*static_cast<const FlagColumn*>(column))[row] ? "true" : "false");
}

template <class Syntax, class Column>
char* write_member(char* out, const void* column, std::size_t row) noexcept {
    return Syntax::word(out, static_cast<const Column*>(column)->text(row));
}

template <class Column>
std::size_t longest_member() noexcept {
    std::size_t longest = 0;
    for (std::size_t i = 0; i < Column::Members::kCount; ++i) {
        longest = std::max(longest, Column::Members::text(i).size());
    }
    return longest;
}

template <class Syntax>
char* write_float(char* out, const void* column, std::size_t row) noexcept {
    const double value = (*static_cast<const ValueColumn<double>*>(column))[row];
    if (std::isfinite(value)) return write_float_repr(out, value);
    if (std::isnan(value)) return Syntax::word(out, "NaN");
    return Syntax::word(out, value > 0 ? "Infinity" : "-Infinity");
}

template <class Syntax, class Integer>
char* write_integer(char* out, const void* column, std::size_t row) noexcept {
    return std::to_chars(out, out + 24, (*static_cast<const ValueColumn<Integer>*>(column))[row]).ptr;
}

template <class Syntax, class Integer>
char* write_time_of_day(char* out, const void* column, std::size_t row) noexcept {
    const auto seconds =
        static_cast<std::uint32_t>((*static_cast<const ValueColumn<Integer>*>(column))[row]);
    const std::uint32_t parts[] = {seconds / 3600 % 100, seconds / 60 % 60, seconds % 60};
    std::array<char, 8> text{};
    for (std::size_t i = 0; i < 3; ++i) {
        text[i * 3] = static_cast<char>('0' + parts[i] / 10);
        text[i * 3 + 1] = static_cast<char>('0' + parts[i] % 10);
        if (i < 2) text[i * 3 + 2] = ':';
    }
    return Syntax::word(out, std::string_view(text.data(), text.size()));
}

template <class Syntax, class Integer>
char* write_hex_address(char* out, const void* column, std::size_t row) noexcept {
    const auto address =
        static_cast<std::uint32_t>((*static_cast<const ValueColumn<Integer>*>(column))[row]);
    std::array<char, 6> text;
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = kHexDigitsUpper[(address >> (20 - 4 * i)) & 0x0Fu];
    }
    return Syntax::word(out, std::string_view(text.data(), text.size()));
}

template <class Column>
struct IsValueColumn : std::false_type {};
template <class T>
struct IsValueColumn<ValueColumn<T>> : std::true_type {
    using Value = T;
};

// The separator and, in JSON, the key before a value: padded, so that it is
// copied as one block of fixed size (inlined, unlike a copy of its length).
struct CellStart {
    static constexpr std::size_t kRoom = 32;
    std::array<char, kRoom> text{};
    std::size_t size = 0;

    explicit CellStart(std::string_view start) : size(std::min(start.size(), kRoom)) {
        start.copy(text.data(), size);
    }
    char* put(char* out) const noexcept {
        std::memcpy(out, text.data(), kRoom);
        return out + size;
    }
};

struct Cell {
    CellStart before;
    CellWrite write;
    const void* column;
    std::size_t bound;          // the most bytes of the value, texts aside
    CellExtra extra = nullptr;  // texts: the bytes a row's value may add
};

// The cell of a column: how its values are written, and their size at most.
template <class Syntax, class Column>
Cell cell_for(std::string_view name, std::string_view format, const Column& column) {
    const std::string before = Syntax::before_cell(name);
    if (before.size() > CellStart::kRoom) throw std::length_error("column name too long: " + before);
    Cell cell{CellStart(before), nullptr, &column, 0};
    cell.bound = CellStart::kRoom + Syntax::kWordQuotes;
    if constexpr (std::is_same_v<Column, TextColumn>) {
        cell.write = &write_text<Syntax>;
        cell.extra = &text_extra;
        cell.bound += 2;
    } else if constexpr (std::is_same_v<Column, FlagColumn>) {
        cell.write = &write_flag<Syntax>;
        cell.bound += 5;
    } else if constexpr (requires { typename Column::Members; }) {
        cell.write = &write_member<Syntax, Column>;
        cell.bound += longest_member<Column>();
    } else if constexpr (std::is_same_v<Column, ValueColumn<double>>) {
        cell.write = &write_float<Syntax>;
        cell.bound += kFloatReprMaxChars;
    } else {
        static_assert(IsValueColumn<Column>::value, "a column type without a text form");
        using Integer = typename IsValueColumn<Column>::Value;
        static_assert(std::is_integral_v<Integer> && sizeof(Integer) <= 8);
        cell.bound += 24;
        if (format == kTimeOfDayFormat) {
            cell.write = &write_time_of_day<Syntax, Integer>;
        } else if (name == kAddressColumn) {
            cell.write = &write_hex_address<Syntax, Integer>;
        } else {
            cell.write = &write_integer<Syntax, Integer>;
        }
    }
    return cell;
}

template <class Syntax, class Table>
bool append_rows(std::string& out, const Table& table, std::string_view source,
                 const RecordSpill& spill) {
    std::vector<Cell> cells;
    cells.reserve(Table::kColumns);
    table.for_each_column([&](std::string_view name, std::string_view format, const auto& column) {
        cells.push_back(cell_for<Syntax>(name, format, column));
    });
    const std::string row_start = Syntax::row_start(source);
    std::size_t fixed_bound = row_start.size() + Syntax::kRowEnd.size();
    for (const Cell& cell : cells) fixed_bound += cell.bound;

    std::array<char, kRowBufferBytes> stack_buffer;
    std::string long_row;  // for the rare row with long texts
    for (std::size_t row = 0; row < table.rows(); ++row) {
        std::size_t bound = fixed_bound;
        for (const Cell& cell : cells) {
            if (cell.extra != nullptr) bound += cell.extra(cell.column, row);
        }
        char* begin = stack_buffer.data();
        if (bound > stack_buffer.size()) {
            long_row.resize(bound);
            begin = long_row.data();
        }
        char* end = put(begin, row_start);
        for (const Cell& cell : cells) {
            end = cell.before.put(end);
            end = cell.write(end, cell.column, row);
        }
        end = put(end, Syntax::kRowEnd);
        out.append(begin, end);
        if (spill && out.size() >= kRecordSpillBytes && !spill(out)) return false;
    }
    return true;
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
    append_escaped(out, text, put_json_string);
}

void append_csv_field(std::string& out, std::string_view text) {
    append_escaped(out, text, put_csv_field);
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
