// Framing reads into runs of whole lines.
#include "line_framer.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "line_splitter.hpp"

namespace kav {
namespace {

// The position of the last `byte` in data[from, end), or npos.
std::size_t find_last_byte(std::string_view data, char byte, std::size_t from) noexcept {
    if (from >= data.size()) return std::string_view::npos;
    const void* found = ::memrchr(data.data() + from, byte, data.size() - from);
    return found == nullptr
               ? std::string_view::npos
               : static_cast<std::size_t>(static_cast<const char*>(found) - data.data());
}

// Past the last line end in data[from, end), or `from` when there is none. A
// "\r" before the last "\n" cannot be the last line end: searching for one
// only after it spares a scan of the whole read in files without any.
std::size_t past_last_line_end(std::string_view data, std::size_t from) noexcept {
    const std::size_t line_feed = find_last_byte(data, '\n', from);
    const std::size_t after_line_feed = line_feed == std::string_view::npos ? from : line_feed + 1;
    const std::size_t carriage_return = find_last_byte(data, '\r', after_line_feed);
    if (carriage_return != std::string_view::npos) return carriage_return + 1;
    return after_line_feed;
}

}  // namespace

std::size_t count_lines(const LineRun& run) noexcept {
    const std::size_t ends = count_line_ends(run.lines);
    const bool ended = !run.lines.empty() && (run.lines.back() == '\n' || run.lines.back() == '\r');
    const bool last_line_unended = run.lines.empty() ? run.continues_a_line() : !ended;
    return ends + (last_line_unended ? 1 : 0);
}

std::optional<FramedRead> LineFramer::frame(std::string_view read) {
    std::size_t begin = 0;
    if (skip_line_feed_ && !read.empty()) {
        skip_line_feed_ = false;
        if (read.front() == '\n') begin = 1;
    }
    const std::size_t end = past_last_line_end(read, begin);
    if (end == begin) {
        keep_unfinished(read.substr(begin));
        return std::nullopt;
    }
    FramedRead framed{std::move(unfinished_), unfinished_cut_, begin, end};
    unfinished_.clear();
    unfinished_cut_ = 0;
    skip_line_feed_ = end == read.size() && read.back() == '\r';
    keep_unfinished(read.substr(end));
    return framed;
}

std::optional<FramedRead> LineFramer::finish() {
    skip_line_feed_ = false;
    if (unfinished_bytes() == 0) return std::nullopt;
    FramedRead framed{std::move(unfinished_), unfinished_cut_, 0, 0};
    unfinished_.clear();
    unfinished_cut_ = 0;
    return framed;
}

std::uint64_t LineFramer::drop_unfinished() noexcept {
    const std::uint64_t dropped = unfinished_bytes();
    unfinished_.clear();
    unfinished_cut_ = 0;
    skip_line_feed_ = false;
    return dropped;
}

void LineFramer::keep_unfinished(std::string_view part) {
    if (max_line_bytes_ == kNoLimit) {
        unfinished_.append(part);
        return;
    }
    const std::size_t room = max_line_bytes_ - std::min(max_line_bytes_, unfinished_.size());
    const std::size_t kept = std::min(room, part.size());
    unfinished_.append(part.substr(0, kept));
    unfinished_cut_ += part.size() - kept;
}

std::size_t GatheredLines::push(std::string_view read) {
    const std::optional<FramedRead> framed = framer_.frame(read);
    if (!framed) return 0;
    const LineRun run = framed->run_of(read);
    text_.append(run.carried).append(run.lines);
    runs_.push_back({run.carried.size(), run.carried_cut, run.lines.size()});
    const std::size_t lines = count_lines(run);
    lines_ += lines;
    return lines;
}

GatheredLines::Taken GatheredLines::take() noexcept {
    Taken taken{std::exchange(text_, {}), std::exchange(runs_, {})};
    lines_ = 0;
    return taken;
}

std::vector<LineRun> GatheredLines::Taken::runs() const {
    std::vector<LineRun> views;
    views.reserve(sizes.size());
    std::string_view rest = text;
    for (const RunSizes& run : sizes) {
        const std::string_view carried = rest.substr(0, run.carried);
        rest.remove_prefix(run.carried);
        views.push_back({carried, run.carried_cut, rest.substr(0, run.lines)});
        rest.remove_prefix(run.lines);
    }
    return views;
}

}  // namespace kav
