// A stream cut into runs of whole lines, read by read, by the rule of
// line_splitter.hpp. Every path that reads a stream (a file, a pipe, a
// socket) frames it here, so that a line end split between two reads, or a
// line longer than a read, means the same everywhere.
//
// A read is framed without copying it: its whole lines are a range of it, and
// the start of a line it leaves unfinished is kept here until a later read
// ends that line. What crosses from one read to the next:
// - the unfinished line, carried into the run of the read that ends it;
// - a "\r" that ends a read: it ends its line at once (a stream may pause
//   there for a long time), so a "\n" that starts the next read is the second
//   half of that "\r\n" and is skipped;
// - with a line limit, only the first `max_line_bytes` bytes of an unfinished
//   line: the rest is counted, not held, so that memory never grows with one
//   line; the decoder reports such a line as too long.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kav {

// Whole lines: `lines`, whose first line finishes `carried`, the start of a
// line begun in earlier reads (no line end in it), of which `carried_cut`
// more bytes were dropped over the line limit. The last run of an input may
// end without a line end: its last line is a line all the same.
struct LineRun {
    std::string_view carried;
    std::uint64_t carried_cut = 0;
    std::string_view lines;

    bool continues_a_line() const noexcept { return !carried.empty() || carried_cut != 0; }
};

// The lines of a run, as the decoder numbers them.
std::size_t count_lines(const LineRun& run) noexcept;

// One read, framed: read[begin, end) are whole lines, the first of which
// finishes `carried`.
struct FramedRead {
    std::string carried;
    std::uint64_t carried_cut = 0;
    std::size_t begin = 0;
    std::size_t end = 0;

    LineRun run_of(std::string_view read) const noexcept {
        return {carried, carried_cut, read.substr(begin, end - begin)};
    }
};

class LineFramer {
  public:
    static constexpr std::size_t kNoLimit = 0;

    explicit LineFramer(std::size_t max_line_bytes = kNoLimit) noexcept
        : max_line_bytes_(max_line_bytes) {}

    std::size_t max_line_bytes() const noexcept { return max_line_bytes_; }

    // The whole lines that `read` ends, or nothing when it ends none (it then
    // joins the unfinished line).
    std::optional<FramedRead> frame(std::string_view read);

    // The end of the input: the unfinished line as its last line, if any.
    std::optional<FramedRead> finish();

    // Drops the unfinished line (a connection cut it off) and forgets a "\r"
    // that ended the last read, so that the next input starts afresh. Returns
    // the dropped line's length in bytes, 0 when there was none.
    std::uint64_t drop_unfinished() noexcept;

    // The length in bytes of the unfinished line, held and cut.
    std::uint64_t unfinished_bytes() const noexcept { return unfinished_.size() + unfinished_cut_; }

  private:
    void keep_unfinished(std::string_view part);

    std::size_t max_line_bytes_;
    std::string unfinished_;
    std::uint64_t unfinished_cut_ = 0;
    bool skip_line_feed_ = false;
};

// Reads that are not kept (a socket's one receive buffer) gathered as runs of
// whole lines, copied, until taken all at once: a live feed's batch.
class GatheredLines {
  public:
    explicit GatheredLines(std::size_t max_line_bytes = LineFramer::kNoLimit) noexcept
        : framer_(max_line_bytes) {}

    // Frames `read` and keeps the whole lines it ends; returns how many.
    std::size_t push(std::string_view read);

    // Lines held.
    std::size_t lines() const noexcept { return lines_; }

    // A run held, by the sizes of its parts in the text, which follow one
    // another there run after run.
    struct RunSizes {
        std::size_t carried;
        std::uint64_t carried_cut;
        std::size_t lines;
    };

    // What take() hands over: the text of every run held, and where the runs
    // lie in it. The runs are made from the text wherever it is when asked
    // for: a short string keeps its bytes inside itself, so they move with it,
    // and runs made before a move would point into the string moved from.
    struct Taken {
        std::string text;
        std::vector<RunSizes> sizes;

        std::vector<LineRun> runs() const;
    };
    Taken take() noexcept;

    LineFramer& framer() noexcept { return framer_; }

  private:
    LineFramer framer_;
    std::string text_;
    std::vector<RunSizes> runs_;
    std::size_t lines_ = 0;
};

}  // namespace kav
