// Growing columns of one value a row, laid out as columnar tables keep them:
// each column is a few contiguous buffers, appended to without an allocation
// per row and read back in place. Large buffers come from the column block
// pool, so that the tables of a stream reuse each other's pages.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "block_pool.hpp"

namespace kav {

template <class T>
using PooledVector = std::vector<T, PooledAllocator<T>>;

// Fixed-width values, one a row.
template <class T>
class ValueColumn {
  public:
    void reserve(std::size_t rows) { values_.reserve(rows); }
    void append(T value) { values_.push_back(value); }

    std::size_t size() const noexcept { return values_.size(); }
    T operator[](std::size_t row) const noexcept { return values_[row]; }
    std::span<const T> values() const noexcept { return values_; }

  private:
    PooledVector<T> values_;
};

// Truth values packed eight a byte, the first row in the lowest bit.
class FlagColumn {
  public:
    void reserve(std::size_t rows) { bytes_.reserve((rows + 7) / 8); }
    void append(bool value) {
        const std::size_t bit = size_ % 8;
        if (bit == 0) bytes_.push_back(0);
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (unsigned{value} << bit));
        ++size_;
    }

    std::size_t size() const noexcept { return size_; }
    bool operator[](std::size_t row) const noexcept {
        return ((unsigned{bytes_[row / 8]} >> (row % 8)) & 1u) != 0;
    }
    std::span<const std::uint8_t> bits() const noexcept { return bytes_; }

  private:
    PooledVector<std::uint8_t> bytes_;
    std::size_t size_ = 0;
};

// Texts of any length, one a row: the bytes of all rows end to end, and the
// offset where each row ends (row i spans offsets[i] to offsets[i + 1]).
// Offsets are 32-bit, so a column holds at most kMaxBytes bytes; whoever
// appends keeps to that (see overflowed()).
class TextColumn {
  public:
    static constexpr std::size_t kMaxBytes = std::numeric_limits<std::int32_t>::max();

    TextColumn() : offsets_{0} {}
    void reserve(std::size_t rows) { offsets_.reserve(rows + 1); }
    void reserve_bytes(std::size_t bytes) { bytes_.reserve(bytes); }
    void append(std::string_view text) {
        bytes_.append(text);
        end_row();
    }
    // A text written by `text.append_to(std::string&)`, into a string the
    // column keeps for the purpose, so that no row allocates one.
    template <class Rendered>
    void append_rendered(const Rendered& text) {
        rendered_.clear();
        text.append_to(rendered_);
        append(rendered_);
    }
    // Whether the bytes passed kMaxBytes, after which the offsets are wrong.
    bool overflowed() const noexcept { return bytes_.size() > kMaxBytes; }

    std::size_t size() const noexcept { return offsets_.size() - 1; }
    std::string_view operator[](std::size_t row) const noexcept {
        const auto begin = static_cast<std::size_t>(offsets_[row]);
        return std::string_view(bytes_).substr(begin,
                                               static_cast<std::size_t>(offsets_[row + 1]) - begin);
    }
    std::span<const std::int32_t> offsets() const noexcept { return offsets_; }
    std::string_view bytes() const noexcept { return bytes_; }

  private:
    void end_row() { offsets_.push_back(static_cast<std::int32_t>(bytes_.size())); }

    PooledVector<std::int32_t> offsets_;
    std::basic_string<char, std::char_traits<char>, PooledAllocator<char>> bytes_;
    std::string rendered_;  // reused by append_rendered
};

// Values of a small closed set, stored as their index in the set's list of
// members. `Members` names the set: a type with `Value`, `kCount`,
// `index(Value)`, `value(index)` and `text(index)`, the member's text form.
template <class MemberSet>
class DictionaryColumn {
  public:
    using Members = MemberSet;
    using Value = typename Members::Value;
    static_assert(Members::kCount <= std::numeric_limits<std::int8_t>::max());

    void reserve(std::size_t rows) { indices_.reserve(rows); }
    void append(Value value) { indices_.push_back(Members::index(value)); }

    std::size_t size() const noexcept { return indices_.size(); }
    Value operator[](std::size_t row) const noexcept {
        return Members::value(static_cast<std::size_t>(indices_[row]));
    }
    std::string_view text(std::size_t row) const noexcept {
        return Members::text(static_cast<std::size_t>(indices_[row]));
    }
    std::span<const std::int8_t> indices() const noexcept { return indices_; }

  private:
    PooledVector<std::int8_t> indices_;
};

// The members of an enumeration listed in code order by `kMembers`, whose
// text forms are text_form(member). A code without a member maps to index 0.
template <class Enum, const auto& kMembers>
struct EnumMembers {
    using Value = Enum;
    static constexpr std::size_t kCount = kMembers.size();

    static constexpr std::int8_t index(Enum value) noexcept { return kIndexOfCode[code(value)]; }
    static constexpr Enum value(std::size_t index) noexcept { return kMembers[index]; }
    static std::string_view text(std::size_t index) noexcept { return text_form(kMembers[index]); }

  private:
    static constexpr std::size_t kCodes = std::numeric_limits<std::uint8_t>::max() + 1;
    static constexpr std::array<std::int8_t, kCodes> kIndexOfCode = [] {
        std::array<std::int8_t, kCodes> indices{};
        for (std::size_t i = 0; i < kMembers.size(); ++i) {
            indices[code(kMembers[i])] = static_cast<std::int8_t>(i);
        }
        return indices;
    }();
};

}  // namespace kav
