#include "runtime/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <tuple>
#include <utility>

#include "runtime/temp_buffer.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string AutoText(double value) {
    TempScope scope;
    const std::string text = FloatToTextAuto(value, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(text.size()));
    return text;
}

std::string FixedText(int32_t decimals, double value) {
    TempScope scope;
    return FloatToText(decimals, value, scope.start());
}

std::string IntegerText(int64_t value) {
    TempScope scope;
    const std::string text = IntegerToText(value, scope.start());
    EXPECT_EQ(TempPosition(), scope.start() + static_cast<int64_t>(text.size()));
    return text;
}

TEST(TextToIntegerTest, ReadsEveryForm) {
    const std::pair<const char*, int64_t> cases[] = {
        {"42", 42},   {"  \t 42abc", 42}, {"-42", -42}, {"+42", 42},   {"$FF", 255},
        {"$ff", 255}, {"-$10", -16},      {"$", 0},     {"$G", 0},     {"%101", 5},
        {"%2", 0},    {"%", 0},           {"abc", 0},   {"", 0},       {nullptr, 0},
        {"- 5", 0},   {"--5", 0},         {"+-5", 0},   {"00080", 80}, {"127.0.0.1", 127}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(TextToInteger(text), value) << (text ? text : "null");
    // Overflow wraps modulo 2^64.
    EXPECT_EQ(TextToInteger("9223372036854775807"), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(TextToInteger("9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TextToInteger("-9223372036854775808"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(TextToInteger("18446744073709551617"), 1);
    EXPECT_EQ(TextToInteger("$FFFFFFFFFFFFFFFF"), -1);
    EXPECT_EQ(TextToInteger("$10000000000000000"), 0);
}

// The shared leading-integer reader, clamped to a 16-bit range: blanks, signs, saturation.
TEST(ReadLeadingIntegerTest, ReadsClampsAndSaysWhereItStopped) {
    struct Case {
        const char* text;
        LeadingBlanks blanks;
        LeadingSign sign;
        int64_t clamped;
        size_t digits, end;
    };
    constexpr auto kNone = LeadingBlanks::None;
    constexpr auto kSpace = LeadingBlanks::SpaceAndTab;
    constexpr auto kAny = LeadingBlanks::AnyWhitespace;
    constexpr auto kSigned = LeadingSign::Allowed;
    constexpr auto kUnsigned = LeadingSign::Refused;
    const Case cases[] = {{"123x", kNone, kUnsigned, 123, 3, 3},
                          {" 7", kNone, kUnsigned, 0, 0, 0},
                          {" \t7", kSpace, kUnsigned, 7, 1, 3},
                          {"\n7", kSpace, kUnsigned, 0, 0, 0},
                          {"\n\v\f\r7", kAny, kUnsigned, 7, 1, 5},
                          {"-5", kAny, kUnsigned, 0, 0, 0},
                          {"-5", kAny, kSigned, -5, 1, 2},
                          {"+5", kAny, kSigned, 5, 1, 2},
                          {"-", kAny, kSigned, 0, 0, 0},
                          {"-0", kAny, kSigned, 0, 1, 2},
                          {"99999", kNone, kUnsigned, 32767, 5, 5},
                          {"-99999", kNone, kSigned, -32768, 5, 6},
                          {"", kAny, kSigned, 0, 0, 0},
                          {"-32768", kNone, kSigned, -32768, 5, 6},
                          {"99999999999999999999999", kNone, kUnsigned, 32767, 23, 23},
                          {"-99999999999999999999999", kNone, kSigned, -32768, 23, 24}};
    for (const Case& c : cases) {
        const LeadingInteger read = ReadLeadingInteger(c.text, c.blanks, c.sign);
        EXPECT_EQ(ClampLeadingInteger(read, -32768, 32767), c.clamped) << c.text;
        EXPECT_EQ(read.digits, c.digits) << c.text;
        EXPECT_EQ(read.end, c.end) << c.text;
    }
    // Saturation keeps the full 64-bit range exact at both ends.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const auto clamp64 = [](const char* text) {
        return ClampLeadingInteger(ReadLeadingInteger(text, kNone, kSigned), kMin, kMax);
    };
    EXPECT_EQ(clamp64("-9223372036854775808"), kMin);
    EXPECT_EQ(clamp64("-9223372036854775807"), kMin + 1);
    EXPECT_EQ(clamp64("9223372036854775807"), kMax);
    EXPECT_EQ(clamp64("9223372036854775808"), kMax);
}

TEST(NumberTextTest, WritesIntegersPlainAndReadsFloatsWordsFirst) {
    const std::pair<int64_t, const char*> integers[] = {
        {0, "0"},
        {-35000, "-35000"},
        {std::numeric_limits<int64_t>::min(), "-9223372036854775808"}};
    for (const auto& [value, text] : integers)
        EXPECT_EQ(IntegerText(value), text);
    const std::pair<const char*, double> floats[] = {
        {"48.117", 48.117}, {"  -3.5e2x", -350.0}, {"12,5", 12.0},      {"", 0.0},
        {"abc", 0.0},       {".5", 0.5},           {"+INFINITY", kInf}, {"-infinity", -kInf},
        {nullptr, 0.0},     {"+Infinity ", kInf}};  // atof reads "inf"
    for (const auto& [text, value] : floats)
        EXPECT_DOUBLE_EQ(TextToFloat(text), value) << (text ? text : "null");
    EXPECT_TRUE(std::isnan(TextToFloat("NaN")) && std::isnan(TextToFloat("nan")));
    EXPECT_DOUBLE_EQ(Power(2.0, -1.0), 0.5);
}

TEST(NumberTextTest, WritesFloatsTrimmedOrWithClampedDecimals) {
    const std::pair<double, const char*> automatic[] = {
        {48.1173, "48.1173"},
        {2.0, "2"},
        {0.5, "0.5"},
        {-0.0, "0"},
        {100.0, "100"},
        {-1e-11, "-0"},
        {1e-11, "0"},
        {-48.5, "-48.5"},
        {0.123456789012, "0.123456789"},
        {1e20, "100000000000000000000"},
        {kInf, "+Infinity"},
        {-kInf, "-Infinity"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"}};
    for (const auto& [value, text] : automatic)
        EXPECT_EQ(AutoText(value), text) << value;
    const std::tuple<int32_t, double, std::string> fixed[] = {
        {3, 2.0, "2.000"},
        {-5, 2.6, "3"},
        {0, 2.4, "2"},
        {2, -0.0, "0.00"},
        {600, 1.0, "1." + std::string(512, '0')}};
    for (const auto& [decimals, value, text] : fixed)
        EXPECT_EQ(FixedText(decimals, value), text) << decimals << " " << value;
    // The widest possible text still fits.
    EXPECT_EQ(FixedText(512, -std::numeric_limits<double>::max()).size(), 1 + 309 + 1 + 512u);
}

// The window system sets the locale from the environment. Under a locale with a decimal comma
// the C library's own readers and writers change; ours must not.
class DecimalCommaLocaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::setlocale(LC_ALL, nullptr);
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) return;
        }
        GTEST_SKIP()
            << "no locale with a decimal comma is installed (scripts/install-deps makes one)";
    }
    void TearDown() override { std::setlocale(LC_ALL, previous_.c_str()); }

  private:
    std::string previous_;
};

TEST_F(DecimalCommaLocaleTest, NumbersKeepTheirPoint) {
    // The C library now really reads with a comma; otherwise this test would prove nothing.
    ASSERT_EQ(std::atof("48.117"), 48.0);

    EXPECT_DOUBLE_EQ(TextToFloat("48.117"), 48.117);
    EXPECT_DOUBLE_EQ(TextToFloat("48,117"), 48.0);
    EXPECT_EQ(AutoText(48.1173), "48.1173");
    EXPECT_EQ(FixedText(2, 1234.5), "1234.50");
    EXPECT_EQ(IntegerText(35000), "35000");
}

}  // namespace
