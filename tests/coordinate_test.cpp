#include "app/coordinate.h"

#include <gtest/gtest.h>

#include <limits>
#include <regex>
#include <string>

#include "runtime/temp_buffer.h"

namespace {

std::string Convert(const char* value, const char* hemisphere) {
    TempScope scope;
    const std::string text = ConvertCoordinate(value, hemisphere, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(text.size()));
    return text;
}

std::string Fixed(double number, int64_t decimals) {
    TempScope scope;
    return FormatFixedDecimals(number, decimals, scope.start());
}

struct CoordinateCase {
    const char* value;
    const char* hemisphere;
    const char* expected;
};

TEST(ConvertCoordinateTest, WorkedExamples) {
    const CoordinateCase cases[] = {
        {"4807.038", "N", "48.117300"},
        {"01131.000", "E", "11.516667"},
        {"4807.0380", "S", "-48.1173000"},
        {"01131.0000", "W", "-11.5166667"},
        {"5130.1234", "N", "51.5020567"},
        {"3345.12345", "S", "-33.75205750"},
        {"15112.12", "E", "151.20200"},
        {"00007.5000", "W", "-0.1250000"},
        {"0000.0000", "S", "-0.0000000"},
        {"4807.", "N", "48.117"},
        {"807.038", "N", "807.0006"},
        {"4807", "N", "480.1"},
        {"48", "N", "48"},
        {"", "", "0"},
        {nullptr, nullptr, "0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Convert(c.value, c.hemisphere), c.expected)
            << (c.value ? c.value : "null") << " " << (c.hemisphere ? c.hemisphere : "null");
    }
}

TEST(ConvertCoordinateTest, SignAndOddFields) {
    const CoordinateCase cases[] = {
        {"4807.038", "s", "48.117300"},  // lower case gives no sign
        {"4807.038", "w", "48.117300"},
        {"4807.038", "SW", "48.117300"},  // only exactly "S" or "W"
        {"4807.038", "", "48.117300"},
        {"", "S", "-0"},
        {"", "W", "-0"},
        {"48a7.038", "N", "48.000000"},  // stray characters: whole degrees
        {"4916.45", "N", "49.27417"},
        {"12311.12", "W", "-123.18533"},
        {"17959.9999", "E", "179.9999983"},
        {"9000.0000", "S", "-90.0000000"},
        {"000-60", "S", "1.000"},  // a signed minutes text moves the sign, never doubles it
        {"000-60", "N", "-1.000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Convert(c.value, c.hemisphere), c.expected) << c.value << " " << c.hemisphere;
    }
}

// Every field, however long or strange, must give a plain number text: an optional "-",
// digits, and optionally "." with digits (or a bare "." when padding was not possible).
TEST(ConvertCoordinateTest, HugeAndStrangeMinutesStayPlainNumbers) {
    const std::regex plain(R"(-?[0-9]+(\.[0-9]*)?)");
    const char* fields[] = {
        "4807.03800000000000000000000",  // 25 minute decimals
        "4807.0380000000000000000000000000000000000000000000000000",
        "48999999999999999999999.0",  // minutes beyond the 64-bit range
        "4807.038e300",               // the C reader takes exponents
        "480inf",                     // ... and infinities
        "480nan",
        "4807.038e-300",
        "99999.9999999999999999",
        "9z)-5E071",
        "000-6e300",
        "000-inf",
    };
    for (const char* field : fields) {
        for (const char* hemisphere : {"N", "S"}) {
            const std::string text = Convert(field, hemisphere);
            EXPECT_TRUE(std::regex_match(text, plain)) << field << " gave " << text;
        }
    }
    // Long minutes keep their value instead of wrapping to nonsense.
    EXPECT_EQ(Convert("4807.03800000000000000000000", "N"), "48.1173");
    EXPECT_EQ(Convert("48999999999999999999999.0", "N").substr(0, 6), "166666");
}

struct FixedCase {
    double number;
    int64_t decimals;
    const char* expected;
};

TEST(FormatFixedDecimalsTest, RoundsPadsAndCuts) {
    const FixedCase cases[] = {
        {2.5, 0, "3"},
        {1.25, 1, "1.3"},
        {0.125, 2, "0.13"},
        {12.6, 0, "13"},
        {12.6, -4, "13"},
        {48.0, 7, "48.0000000"},
        {48.5, 12, "48.5"},            // 11 missing decimals: no padding
        {48.5, 11, "48.50000000000"},  // 10 missing: padded
        {7.0, 15, "7."},
        {0.0, 400, "0."},
        {48.117300, 6, "48.117300"},
        {0.123456789, 3, "0.123"},
        {100.999999, 2, "101.00"},
        {0.0, 0, "0"},
        // Decimals that would leave the 64-bit range are lowered, not wrapped.
        {48.1173, 18, "48.1173"},
        {48.1173, 1000, "48.1173"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Fixed(c.number, c.decimals), c.expected) << c.number << " @" << c.decimals;
    }
}

struct ScaledCase {
    double number;
    int64_t expected;
};

TEST(ScaledIntegerPartTest, ReadsTheTenDecimalText) {
    const ScaledCase cases[] = {
        {48.9, 48},
        {100.99999999999, 101},  // within 5e-11 of a whole number
        {100.9999999, 100},
        {-3.7, -3},  // toward zero
        {0.0, 0},
        {1e15, 1000000000000000},
        {1e30, std::numeric_limits<int64_t>::max()},
        {-1e30, std::numeric_limits<int64_t>::min()},
        {std::numeric_limits<double>::infinity(), 0},  // "+Infinity" has no digits
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaledIntegerPart(c.number), c.expected) << c.number;
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
    const std::string text =
        ConvertCoordinate(TempAt(scope.start()), TempAt(hemisphereAt), TempPosition() + 1);
    EXPECT_EQ(text, "-48.117300");
}

}  // namespace
