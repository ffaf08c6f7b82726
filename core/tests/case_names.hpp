// Test names for the cases of parameterized suites, so that a test list or a
// failure says which case ran ("AcceptedDecimal.Parses/3_12_5") instead of a
// bare number beside a dump of the parameter's bytes.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <string>
#include <string_view>

namespace kav::test {

// A text as a C string literal, bytes outside printable ASCII as \xHH: how a
// case's input prints (GoogleTest's own string printer adds a second,
// decoded copy of any UTF-8 text, which would end up in the names too).
inline std::string quoted(std::string_view text) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += c;
        } else {
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out + '"';
}

// GoogleTest allows letters, digits and underscores only: every other run of
// bytes becomes one underscore. At most `longest` characters are kept.
inline std::string name_characters(std::string_view text, std::size_t longest) {
    std::string name;
    for (const char c : text) {
        if (name.size() == longest) {
            break;
        }
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    while (!name.empty() && name.back() == '_') {
        name.pop_back();
    }
    return name;
}

// A case's test name: its `name` member when it has one (those are written to
// be unique within a suite); otherwise its position, which keeps the names
// unique, followed by the start of how the case prints (its PrintTo), short
// enough that a test list stays one line a case.
struct CaseName {
    template <class Case>
    std::string operator()(const testing::TestParamInfo<Case>& info) const {
        if constexpr (requires { std::string_view{info.param.name}; }) {
            return name_characters(info.param.name, std::string::npos);
        } else {
            constexpr std::size_t kLongest = 40;
            const std::string shown = name_characters(testing::PrintToString(info.param), kLongest);
            return std::to_string(info.index) + (shown.empty() ? "" : "_" + shown);
        }
    }
};

}  // namespace kav::test
