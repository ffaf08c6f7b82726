// The one rule of where lines end, for every path that cuts text into lines:
// a line ends at "\n", "\r\n" or a lone "\r", and the line end is not part of
// the line (a feed whose lines end in a bare carriage return must not run two
// beacons together). A last line without a line end is still a line; an empty
// buffer holds none. LineFramer (line_framer.hpp) applies the same rule across
// the reads of a stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string_view>

namespace kav {

// The position of `byte` in data[from, to), or `to` when it is not there.
inline std::size_t find_byte(std::string_view data, char byte, std::size_t from,
                             std::size_t to) noexcept {
    if (from == to) return to;  // an empty view may have no address to search
    const void* found = std::memchr(data.data() + from, byte, to - from);
    return found == nullptr ? to
                            : static_cast<std::size_t>(static_cast<const char*>(found) - data.data());
}

// Where the first line end of `data` starts, or data.size() when it holds
// none. Two byte searches (memchr), the "\r" only before the "\n": a pattern
// of both would step through a long line byte by byte.
inline std::size_t first_line_end(std::string_view data) noexcept {
    const std::size_t line_feed = find_byte(data, '\n', 0, data.size());
    return find_byte(data, '\r', 0, line_feed);
}

// The length of the line end that starts at `at` (data[at] is '\n' or '\r'):
// 2 for "\r\n", else 1. A "\r" that ends `data` counts as a lone one; a
// caller whose data may go on decides for itself what the next byte makes it.
inline std::size_t line_end_length(std::string_view data, std::size_t at) noexcept {
    return data[at] == '\r' && at + 1 < data.size() && data[at + 1] == '\n' ? 2 : 1;
}

// Where the line after the first line end in data[0, searched) starts, or
// data.size() + 1 when there is none there. The bytes past `searched` are
// only looked at to tell "\r\n" from a lone "\r" at searched - 1: a reader
// of a file in windows passes one byte more than it searches.
inline std::size_t past_first_line_end(std::string_view data, std::size_t searched) noexcept {
    const std::size_t end = first_line_end(data.substr(0, searched));
    if (end == std::min(searched, data.size())) return data.size() + 1;
    return end + line_end_length(data, end);
}

class LineSplitter {
  public:
    explicit LineSplitter(std::string_view data) noexcept
        : data_(data), newline_(find(data, '\n', 0, data.size())) {}

    // The next line into `line`; false once the buffer is used up.
    bool next(std::string_view& line) noexcept {
        if (pos_ == data_.size()) return false;
        // The next "\n" is searched once and kept: a buffer whose lines all end
        // in "\r" would otherwise be scanned to its end for every line.
        if (newline_ < pos_) newline_ = find(data_, '\n', pos_, data_.size());
        const std::size_t carriage_return = find(data_, '\r', pos_, newline_);
        if (carriage_return < newline_) {
            line = data_.substr(pos_, carriage_return - pos_);
            pos_ = carriage_return + 1;
            if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;  // "\r\n" is one line end
        } else {
            line = data_.substr(pos_, newline_ - pos_);
            pos_ = newline_ == data_.size() ? newline_ : newline_ + 1;
        }
        return true;
    }

  private:
    static std::size_t find(std::string_view data, char byte, std::size_t from,
                            std::size_t to) noexcept {
        return find_byte(data, byte, from, to);
    }

    std::string_view data_;
    std::size_t newline_;  // the next "\n" at or after pos_, or the end; stale when below pos_
    std::size_t pos_ = 0;
};

// The line ends in `data` as LineSplitter finds them, "\r\n" counted once:
// the number of lines of a buffer that ends in a line end. Whole-buffer counts
// that the compiler vectorizes, so that a caller can number the lines of the
// next buffer long before this one is decoded.
inline std::size_t count_line_ends(std::string_view data) noexcept {
    std::size_t line_feeds = 0;
    std::size_t carriage_returns = 0;
    // Byte-wide counts over blocks they cannot overflow in: the loop then
    // compares and adds a whole vector of bytes at a time.
    constexpr std::size_t kBlock = 255;
    for (std::size_t from = 0; from < data.size(); from += kBlock) {
        const std::string_view block = data.substr(from, kBlock);
        std::uint8_t block_line_feeds = 0;
        std::uint8_t block_carriage_returns = 0;
        for (const char byte : block) {
            block_line_feeds = static_cast<std::uint8_t>(block_line_feeds + (byte == '\n'));
            block_carriage_returns = static_cast<std::uint8_t>(block_carriage_returns + (byte == '\r'));
        }
        line_feeds += block_line_feeds;
        carriage_returns += block_carriage_returns;
    }
    if (carriage_returns == 0) return line_feeds;
    std::size_t pairs = 0;
    for (std::size_t i = 1; i < data.size(); ++i) {
        pairs += static_cast<std::size_t>(data[i - 1] == '\r' && data[i] == '\n');
    }
    return line_feeds + carriage_returns - pairs;
}

}  // namespace kav
