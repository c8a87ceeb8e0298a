// Degrees-and-minutes fields to decimal degrees, and the fixed-decimal text beneath it.
#include "app/coordinate.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>

#include "runtime/temp_buffer.h"

namespace {

// The conversion, which must leave the buffer's position on the result's zero.
std::string Convert(const char* value, const char* hemisphere) {
    TempScope scope;
    const std::string text = ConvertCoordinate(value, hemisphere, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(text.size())) << text;
    return text;
}

// Only exactly "S" or "W" give a sign; stray characters leave whole degrees; a signed minutes
// text moves the sign instead of doubling it; long minutes keep their value.
TEST(ConvertCoordinateTest, WorkedExamplesSignsAndOddFields) {
    const struct {
        const char* value;
        const char* hemisphere;
        const char* expected;
    } cases[] = {{"4807.038", "N", "48.117300"},
                 {"01131.000", "E", "11.516667"},
                 {"4807.0380", "S", "-48.1173000"},
                 {"01131.0000", "W", "-11.5166667"},
                 {"3345.12345", "S", "-33.75205750"},
                 {"15112.12", "E", "151.20200"},
                 {"00007.5000", "W", "-0.1250000"},
                 {"0000.0000", "S", "-0.0000000"},
                 {"17959.9999", "E", "179.9999983"},
                 {"4807.", "N", "48.117"},
                 {"807.038", "N", "807.0006"},
                 {"4807", "N", "480.1"},
                 {"48", "N", "48"},
                 {"", "", "0"},
                 {nullptr, nullptr, "0"},
                 {"", "S", "-0"},
                 {"4807.038", "s", "48.117300"},
                 {"4807.038", "SW", "48.117300"},
                 {"48a7.038", "N", "48.000000"},
                 {"000-60", "S", "1.000"},
                 {"000-60", "N", "-1.000"},
                 {"4807.03800000000000000000000", "N", "48.1173"}};
    for (const auto& c : cases)
        EXPECT_EQ(Convert(c.value, c.hemisphere), c.expected) << (c.value ? c.value : "null");
}

// Every field, however long or strange, must give a plain number text: an optional "-",
// digits, and optionally "." with digits (or a bare "." when padding was not possible).
TEST(ConvertCoordinateTest, HugeAndStrangeMinutesStayPlainNumbers) {
    const std::regex plain(R"(-?[0-9]+(\.[0-9]*)?)");
    for (const char* field : {"4807.0380000000000000000000000000000000000000000000000000",
                              "48999999999999999999999.0", "4807.038e300", "480inf", "480nan",
                              "4807.038e-300", "9z)-5E071", "000-6e300", "000-inf"}) {
        for (const char* hemisphere : {"N", "S"}) {
            const std::string text = Convert(field, hemisphere);
            EXPECT_TRUE(std::regex_match(text, plain)) << field << " gave " << text;
        }
    }
    EXPECT_EQ(Convert("48999999999999999999999.0", "N").substr(0, 6), "166666");  // no wrap
}

// 11 missing decimals are not padded, 10 are; decimals that would leave the 64-bit range are
// lowered.
TEST(FormatFixedDecimalsTest, RoundsPadsAndCuts) {
    const struct {
        double number;
        int64_t decimals;
        const char* expected;
    } cases[] = {{2.5, 0, "3"},
                 {1.25, 1, "1.3"},
                 {0.125, 2, "0.13"},
                 {12.6, -4, "13"},
                 {48.0, 7, "48.0000000"},
                 {48.5, 12, "48.5"},
                 {48.5, 11, "48.50000000000"},
                 {7.0, 15, "7."},
                 {0.0, 400, "0."},
                 {0.123456789, 3, "0.123"},
                 {100.999999, 2, "101.00"},
                 {48.1173, 18, "48.1173"},
                 {48.1173, 1000, "48.1173"}};
    for (const auto& c : cases) {
        TempScope scope;
        EXPECT_EQ(std::string(FormatFixedDecimals(c.number, c.decimals, scope.start())), c.expected)
            << c.number << " @" << c.decimals;
    }
}

// A hair below a whole number (5e-11) counts as that number; beyond 64 bits saturates.
TEST(ScaledIntegerPartTest, ReadsTheTenDecimalTextAndSaturates) {
    const std::pair<double, int64_t> cases[] = {{48.9, 48},
                                                {100.99999999999, 101},
                                                {100.9999999, 100},
                                                {-3.7, -3},
                                                {1e15, 1000000000000000},
                                                {1e30, std::numeric_limits<int64_t>::max()},
                                                {-1e30, std::numeric_limits<int64_t>::min()},
                                                {std::numeric_limits<double>::infinity(), 0},
                                                {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& [number, expected] : cases)
        EXPECT_EQ(ScaledIntegerPart(number), expected) << number;
}

// Arguments that lie in the temporary buffer itself, just before the start position.
TEST(ConvertCoordinateTest, ArgumentsInsideTheBuffer) {
    StringSystemEnd();
    StringSystemInit();
    TempScope scope;
    TempAppend("4807.038");
    const int64_t hemisphereAt = TempPosition() + 1;
    TempSetPosition(hemisphereAt);
    TempAppend("S");
    EXPECT_STREQ(ConvertCoordinate(TempAt(scope.start()), TempAt(hemisphereAt), TempPosition() + 1),
                 "-48.117300");
}

}  // namespace
