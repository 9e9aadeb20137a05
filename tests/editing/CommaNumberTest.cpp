// Decimal-comma number text: two roundings (to ten-thousandths halves to even, then to the
// kept decimals halves away from zero), the sign, the range.
#include "editing/CommaNumber.h"

#include "common/Error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace talvira::editing {
namespace {

TEST(FloatToCommaStr, Examples) {
    struct Case {
        double value;
        int digits;
        const char* text;
    };
    const Case cases[] = {
        {118.0 / 1.18 / 2.18, 2, "45,87"},
        {1000.0 / 1.18 / 2.18, 2, "388,74"},
        {100.0 / 1.18 / 2.18, 2, "38,87"},
        {2.345, 2, "2,35"},  // the double lies below 2.345; the first rounding lifts it to 2.3450
        {0.125, 2, "0,13"},
        {45.8715596, 2, "45,87"},
        {0.5, 2, "0,50"},
        {1000, 2, "1000,00"},
        {-1.5, 2, "-1,50"},
        {0.001, 2, "0,00"},
        {-0.001, 2, "-0,00"},
        {-0.00001, 2, "0,00"},  // zero already at four decimals: no sign
        {1234567.891, 2, "1234567,89"},
        {0, 2, "0,00"},
        {-0.0, 2, "0,00"},
        {9.995, 2, "10,00"},      // carry into the integer part
        {-9.995, 2, "-10,00"},
        {0.05, 1, "0,1"},
        {1.23456, 6, "1,234600"},  // more decimals than kept: zeros
        {2.5, 0, "2,5"},           // fewer than one decimal: one
        {922337203685477.0, 2, "922337203685477,00"},
    };
    for (const auto& c : cases) EXPECT_EQ(FloatToCommaStr(c.value, c.digits), c.text) << c.value << " / " << c.digits;
}

TEST(FloatToCommaStr, HalvesAtTheFirstRoundingGoToEven) {
    // 1/32 and 3/32 are exact doubles whose ten-thousandths are exact halves: 312.5 and 937.5.
    EXPECT_EQ(FloatToCommaStr(1.0 / 32, 4), "0,0312");
    EXPECT_EQ(FloatToCommaStr(3.0 / 32, 4), "0,0938");
    EXPECT_EQ(FloatToCommaStr(-1.0 / 32, 4), "-0,0312");
    EXPECT_EQ(FloatToCommaStr(1.0 / 32, 3), "0,031");
}

TEST(FloatToCommaStr, BeyondTheFixedPointRangeIsAnInvalidOperation) {
    for (double v : {1e15, -1e15, 1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
        try {
            FloatToCommaStr(v, 2);
            ADD_FAILURE() << v;
        } catch (const Error& e) {
            EXPECT_STREQ(e.what(), "Invalid floating point operation");
        }
    }
}

}  // namespace
}  // namespace talvira::editing
