// The decoding loop: split, classify, parse, append.
#include "decode_lines.hpp"

#include <limits>
#include <utility>

#include "line_splitter.hpp"
#include "parse.hpp"

namespace kav {
namespace {

// A guess at the number of rows a number of bytes holds, so that the columns
// seldom grow: beacon lines are rarely shorter than this.
constexpr std::size_t kShortestLikelyLine = 64;
// The errors' columns start with room for the failures of this share of the
// rest of the input, and grow past it. A feed fails on a few lines in a
// hundred; a message is about 1.6 times its line. The column pool keeps a
// block by its size, touched or not: room for every line to fail (twice the
// rest for the messages) made the errors' blocks of a 64 MiB range too large
// to keep, so that each range faulted in the pages of its failures' texts
// afresh, and room for as many bytes as the rest pushed the beacons' blocks out.
constexpr std::size_t kFailingShareOfRest = 8;

// Where the first line of `data` ends, its line end included.
std::size_t end_of_first_line(std::string_view data) noexcept {
    const std::size_t end = data.find_first_of("\r\n");
    if (end == std::string_view::npos) return data.size();
    return data.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
}

}  // namespace

Result<DecodedLines, DecodeLimitError> decode_lines(std::string_view data,
                                                    std::uint64_t first_line_number,
                                                    std::string_view carried) {
    const std::size_t total = carried.size() + data.size();
    // Each beacon text and each raw line is a slice of the input, so an input
    // within the offset limit keeps every column but the error messages within it.
    if (total > TextColumn::kMaxBytes) {
        return Err(DecodeLimitError{
            "input of " + std::to_string(total) + " bytes is larger than the " +
            std::to_string(TextColumn::kMaxBytes) + " bytes decoded at once"});
    }
    // There are at most as many lines as bytes.
    if (total != 0 && first_line_number > std::numeric_limits<std::uint64_t>::max() - (total - 1)) {
        return Err(DecodeLimitError{"line numbers from " + std::to_string(first_line_number) +
                                    " over " + std::to_string(total) +
                                    " bytes may pass 2**64 - 1"});
    }
    // The carried line joined with its end from `data`, then the rest of `data`.
    std::string joined;
    std::string_view rest = data;
    if (!carried.empty()) {
        const std::size_t first_end = end_of_first_line(data);
        joined.reserve(carried.size() + first_end);
        joined.append(carried).append(data.substr(0, first_end));
        rest = data.substr(first_end);
    }
    DecodedLines out;
    LineCounts& counts = out.counts;
    // Each table is sized when its first row comes, for the lines from there
    // on: a buffer of failures alone sets up no beacon columns, and one
    // without failures no error columns.
    const auto bytes_from = [&rest](std::string_view part, std::string_view line) {
        return part.size() - static_cast<std::size_t>(line.data() - part.data()) +
               (part.data() == rest.data() ? 0 : rest.size());
    };
    for (const std::string_view part : {std::string_view(joined), rest}) {
        LineSplitter lines(part);
        for (std::string_view line; lines.next(line);) {
            const std::uint64_t line_number = first_line_number + counts.lines++;
            if (line.empty()) {
                ++counts.blank;
                continue;
            }
            if (line.front() == '#') {
                ++counts.comments;
                continue;
            }
            const auto parsed = parse_aircraft_beacon_view(line);
            if (parsed) {
                if (out.beacons.rows() == 0) {
                    out.beacons.reserve(bytes_from(part, line) / kShortestLikelyLine, 0);
                }
                out.beacons.append(line_number, parsed.value());
                continue;
            }
            if (out.errors.rows() == 0) {
                const std::size_t room = bytes_from(part, line) / kFailingShareOfRest;
                out.errors.reserve(room / kShortestLikelyLine, room);
            }
            out.errors.append(line_number, parsed.error(), line);
            ++counts.failures[error_kind_of(parsed.error())];
            if (out.errors.error().overflowed()) {
                return Err(DecodeLimitError{
                    "the error messages up to line " + std::to_string(line_number) +
                    " pass the " + std::to_string(TextColumn::kMaxBytes) +
                    " bytes of one text column"});
            }
        }
    }
    counts.decoded = out.beacons.rows();
    counts.failed = out.errors.rows();
    return out;
}

}  // namespace kav
