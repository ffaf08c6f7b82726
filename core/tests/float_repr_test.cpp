// Floats as Python's repr() writes them: the texts below are what repr() gives
// for each value, covering both sides of every switch between fixed and
// exponent notation, the integers the fast path takes, signed zero and the
// extremes of the double range.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <random>
#include <string>

#include "case_names.hpp"
#include "float_repr.hpp"

namespace kav {
namespace {

struct FloatCase {
    double value;
    std::string_view repr;
};

// A case is named by the text it expects.
void PrintTo(const FloatCase& c, std::ostream* out) {
    *out << c.repr;
}

class FloatReprTest : public testing::TestWithParam<FloatCase> {};

TEST_P(FloatReprTest, MatchesPythonRepr) {
    std::string out = "x";  // appended to, not overwritten
    append_float_repr(out, GetParam().value);
    EXPECT_EQ(out, "x" + std::string(GetParam().repr));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FloatReprTest,
    testing::Values(FloatCase{0.0, "0.0"}, FloatCase{-0.0, "-0.0"}, FloatCase{1.0, "1.0"},
                    FloatCase{-1.5, "-1.5"}, FloatCase{90.0, "90.0"},
                    FloatCase{46.50833333333333, "46.50833333333333"},
                    FloatCase{-169.591, "-169.591"}, FloatCase{0.1, "0.1"},
                    FloatCase{1234.5678, "1234.5678"},
                    // The largest exponent still written in fixed notation, and the first not.
                    FloatCase{1e15, "1000000000000000.0"},
                    FloatCase{1000000000000000.5, "1000000000000000.5"},
                    FloatCase{9999999999999998.0, "9999999999999998.0"},
                    FloatCase{9007199254740994.0, "9007199254740994.0"},
                    FloatCase{1e16, "1e+16"},
                    FloatCase{1.2345678901234568e+17, "1.2345678901234568e+17"},
                    FloatCase{1e22, "1e+22"}, FloatCase{1e100, "1e+100"},
                    // The smallest exponent still written in fixed notation, and the first not.
                    FloatCase{0.0001, "0.0001"}, FloatCase{0.00012345, "0.00012345"},
                    FloatCase{0.0003, "0.0003"}, FloatCase{1e-05, "1e-05"},
                    FloatCase{2.5e-05, "2.5e-05"}, FloatCase{-1e-300, "-1e-300"},
                    // Subnormal, smallest normal and largest finite doubles.
                    FloatCase{5e-324, "5e-324"},
                    FloatCase{2.2250738585072014e-308, "2.2250738585072014e-308"},
                    FloatCase{1.7976931348623157e+308, "1.7976931348623157e+308"}),
    test::CaseName{});

// Whatever the value, the text reads back to the very same double, and it is
// laid out as repr() lays it out: a point or an exponent, never both missing.
TEST(FloatReprProperty, RandomBitPatternsReadBackExactly) {
    std::mt19937_64 random(20261207);
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        std::string out;
        append_float_repr(out, value);
        const double back = std::strtod(out.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << out;
        ASSERT_NE(out.find_first_of(".e"), std::string::npos) << out;
    }
}

}  // namespace
}  // namespace kav
