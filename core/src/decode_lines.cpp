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

// Fills the tables line by line; `bytes_left` tells how much input follows a
// line, for sizing a table when its first row comes (a buffer of failures
// alone sets up no beacon columns, and one without failures no error columns).
class Decoder {
  public:
    Decoder(std::uint64_t first_line_number, std::size_t max_line_bytes) noexcept
        : first_line_number_(first_line_number), max_line_bytes_(max_line_bytes) {}

    // One line (without its line end) of `length` bytes in all: more than the
    // line when its middle was dropped over the limit. False once a text
    // column is full.
    bool line(std::string_view line, std::uint64_t length, std::size_t bytes_left) {
        LineCounts& counts = out_.counts;
        const std::uint64_t line_number = first_line_number_ + counts.lines++;
        if (max_line_bytes_ != LineFramer::kNoLimit && length > max_line_bytes_) {
            return fail(line_number, LineFailure::too_long(length, max_line_bytes_),
                        line.substr(0, max_line_bytes_), bytes_left);
        }
        if (line.empty()) {
            ++counts.blank;
            return true;
        }
        if (line.front() == '#') {
            ++counts.comments;
            return true;
        }
        const auto parsed = parse_aircraft_beacon_view(line);
        if (parsed) {
            if (out_.beacons.rows() == 0) out_.beacons.reserve(bytes_left / kShortestLikelyLine, 0);
            out_.beacons.append(line_number, parsed.value());
            return true;
        }
        return fail(line_number, LineFailure::parse(parsed.error()), line, bytes_left);
    }

    std::uint64_t last_line_number() const noexcept {
        return first_line_number_ + out_.counts.lines - 1;
    }

    DecodedLines finish() && {
        out_.counts.decoded = out_.beacons.rows();
        out_.counts.failed = out_.errors.rows();
        return std::move(out_);
    }

  private:
    bool fail(std::uint64_t line_number, const LineFailure& failure, std::string_view line,
              std::size_t bytes_left) {
        if (out_.errors.rows() == 0) {
            const std::size_t room = bytes_left / kFailingShareOfRest;
            out_.errors.reserve(room / kShortestLikelyLine, room);
        }
        out_.errors.append(line_number, failure, line);
        ++out_.counts.failures[failure.kind()];
        return !out_.errors.error().overflowed();
    }

    std::uint64_t first_line_number_;
    std::size_t max_line_bytes_;
    DecodedLines out_;
};

}  // namespace

Result<DecodedLines, DecodeLimitError> decode_lines(std::span<const LineRun> runs,
                                                    std::uint64_t first_line_number,
                                                    std::size_t max_line_bytes) {
    std::size_t total = 0;
    for (const LineRun& run : runs) total += run.carried.size() + run.lines.size();
    // Each beacon text and each raw line is a slice of the input, so an input
    // within the offset limit keeps every column but the error messages within it.
    if (total > TextColumn::kMaxBytes) {
        return Err(DecodeLimitError{
            "input of " + std::to_string(total) + " bytes is larger than the " +
            std::to_string(TextColumn::kMaxBytes) + " bytes decoded at once"});
    }
    // There are at most as many lines as bytes (a cut line keeps some of its
    // bytes in `carried`).
    if (total != 0 && first_line_number > std::numeric_limits<std::uint64_t>::max() - (total - 1)) {
        return Err(DecodeLimitError{"line numbers from " + std::to_string(first_line_number) +
                                    " over " + std::to_string(total) +
                                    " bytes may pass 2**64 - 1"});
    }
    Decoder decoder(first_line_number, max_line_bytes);
    const auto overflowed = [&decoder] {
        return Err(DecodeLimitError{"the error messages up to line " +
                                    std::to_string(decoder.last_line_number()) + " pass the " +
                                    std::to_string(TextColumn::kMaxBytes) +
                                    " bytes of one text column"});
    };
    std::size_t bytes_left = total;
    std::string joined;
    for (const LineRun& run : runs) {
        std::string_view rest = run.lines;
        bytes_left -= run.carried.size() + run.lines.size();
        if (run.continues_a_line()) {
            // The carried start joined with the rest of its line from `lines`;
            // the cut bytes of a line too long belong to its first line.
            const std::size_t end = first_line_end(rest);
            const std::size_t past = end == rest.size() ? end : end + line_end_length(rest, end);
            joined.assign(run.carried).append(rest.substr(0, past));
            rest.remove_prefix(past);
            LineSplitter lines(joined);
            std::uint64_t cut = run.carried_cut;
            for (std::string_view line; lines.next(line); cut = 0) {
                if (!decoder.line(line, line.size() + cut, bytes_left + rest.size())) {
                    return overflowed();
                }
            }
        }
        LineSplitter lines(rest);
        for (std::string_view line; lines.next(line);) {
            const std::size_t after = rest.size() - static_cast<std::size_t>(line.data() - rest.data());
            if (!decoder.line(line, line.size(), bytes_left + after)) return overflowed();
        }
    }
    return std::move(decoder).finish();
}

}  // namespace kav
