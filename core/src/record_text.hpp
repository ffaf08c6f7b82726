// Decoded tables written as text records, one row at a time: JSON lines (one
// object a row) and CSV (a header, then one line a row). Both walk a table's
// own list of columns, so a field added to a table appears in both, in order,
// after a leading "source" field that names where the rows came from.
//
// Value forms: numbers as Python's repr() writes them; NaN and the infinities
// as the words NaN, Infinity and -Infinity (JSON strings in JSON, which has no
// number for them); the time of day as HH:MM:SS; the aircraft address as six
// upper-case hex digits; enumerations by their text form; flags as true and
// false. Texts keep every well-formed UTF-8 sequence; any other byte (only raw
// lines have them) becomes the four characters \xNN, as Python's
// "backslashreplace" does.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace kav {

// Takes the text written so far out of the buffer (writes it somewhere and
// empties it), or leaves it there for a later call; false when it could not,
// which stops the writing. Without one, the whole table is appended to the buffer.
using RecordSpill = std::function<bool(std::string& buffer)>;

// The writers spill whenever the buffer has reached this size: large enough
// to make each write worth its call, small enough to stay in the cache.
inline constexpr std::size_t kRecordSpillBytes = 256 * 1024;

// `text` as a JSON string with its quotes, escaped as Python's json.dumps
// escapes it when non-ASCII characters are kept as they are.
void append_json_string(std::string& out, std::string_view text);

// `text` as one CSV field: quoted, with its quotes doubled, when it holds a
// comma, a quote, a carriage return or a line feed; as it is otherwise.
void append_csv_field(std::string& out, std::string_view text);

// One JSON object a row of `table`, each ended by "\n": "source" first, then
// the table's columns under their names, in the table's order. False when
// `spill` stopped the writing.
template <class Table>
bool append_json_lines(std::string& out, const Table& table, std::string_view source,
                       const RecordSpill& spill = {});

// The CSV header line of `Table`: source, then the names of its columns.
template <class Table>
void append_csv_header(std::string& out);

// One CSV line a row of `table`, the fields in the header's order. False when
// `spill` stopped the writing.
template <class Table>
bool append_csv_rows(std::string& out, const Table& table, std::string_view source,
                     const RecordSpill& spill = {});

}  // namespace kav
