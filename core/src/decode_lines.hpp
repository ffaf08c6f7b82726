// Decoding a whole buffer of beacon lines into the beacon and error tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "beacon_columns.hpp"
#include "beacon_errors.hpp"
#include "line_framer.hpp"
#include "result.hpp"

namespace kav {

// The counts of what became of the lines, each with what it counts:
// X(name, description). Listed once: the struct below, the result's
// attributes and the package's running totals all come from this list.
#define KAV_LINE_COUNTS(X)                                                  \
    X(lines, "Every line: decoded + failed + comments + blank.")            \
    X(decoded, "Lines decoded into beacons.")                               \
    X(failed, "Lines that failed: one row each in errors.")                 \
    X(comments, "Lines starting with '#', server comments of a stream.")   \
    X(blank, "Empty lines.")

#define KAV_COUNT_MEMBER(name, description) std::uint64_t name = 0;
struct LineCounts {
    KAV_LINE_COUNTS(KAV_COUNT_MEMBER)
    std::array<std::uint64_t, kBeaconErrorKindCount> failures{};  // failed lines per error kind
};
#undef KAV_COUNT_MEMBER

struct DecodedLines {
    BeaconColumns beacons;
    ErrorColumns errors;
    LineCounts counts;
};

// A buffer too large for one pair of tables; the message says what was found.
struct DecodeLimitError {
    std::string message;
};

// Every line of the runs, in order (each split as LineSplitter does, its
// carried start joined to its first line), that is neither blank nor a
// comment is parsed: a beacon row or an error row, in input order, each with
// its line number, counting every line from `first_line_number`. With a line
// limit, a line longer than `max_line_bytes` is not parsed: it fails as
// LineTooLong, its row keeping its first `max_line_bytes` bytes. Fails only
// when a text column would pass its 32-bit offsets or a line number its 64
// bits.
Result<DecodedLines, DecodeLimitError> decode_lines(std::span<const LineRun> runs,
                                                    std::uint64_t first_line_number,
                                                    std::size_t max_line_bytes = LineFramer::kNoLimit);

// The lines of `carried` followed by `data`: one run, no line limit.
inline Result<DecodedLines, DecodeLimitError> decode_lines(std::string_view data,
                                                           std::uint64_t first_line_number,
                                                           std::string_view carried = {}) {
    const LineRun run{carried, 0, data};
    return decode_lines(std::span<const LineRun>(&run, 1), first_line_number);
}

}  // namespace kav
