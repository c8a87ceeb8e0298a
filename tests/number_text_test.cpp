#include "runtime/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

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
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// The text FloatToTextAuto leaves at a fresh start, which must also be where the position ends.
std::string AutoText(double value) {
    TempScope scope;
    const std::string text = FloatToTextAuto(value, scope.Start());
    EXPECT_EQ(TempPosition(), scope.Start() + static_cast<int64_t>(text.size()));
    return text;
}

std::string FixedText(int32_t decimals, double value) {
    TempScope scope;
    return FloatToText(decimals, value, scope.Start());
}

TEST(TextToIntegerTest, ReadsEveryFormAndWrapsModulo2To64) {
    const std::pair<const char*, int64_t> cases[] = {
        {"42", 42},   {"  \t 42abc", 42}, {"-42", -42},  {"9223372036854775808", kMin},
        {"+42", 42},  {"127.0.0.1", 127}, {"$FF", 255},  {"18446744073709551617", 1},
        {"$ff", 255}, {"$a", 10},         {"-$10", -16}, {"$FFFFFFFFFFFFFFFF", -1},
        {"$", 0},     {"$G", 0},          {"$1:", 1},    {"%101", 5},
        {"%2", 0},    {"%", 0},           {"abc", 0},    {"", 0},
        {nullptr, 0}, {"- 5", 0},         {"--5", 0},    {"+-5", 0},
        {"00080", 80}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(TextToInteger(text), value) << (text ? text : "null");
}

TEST(LeadingIntegerTest, BlanksSignsDigitsAndWhereReadingStopped) {
    using B = LeadingBlanks;
    using S = LeadingSign;
    const struct {
        const char* text;
        LeadingBlanks blanks;
        LeadingSign sign;
        LeadingInteger read;  // negative, magnitude, digits, end
    } cases[] = {{" \t-12x", B::SpaceAndTab, S::Allowed, {true, 12, 2, 5}},
                 {"\n7", B::SpaceAndTab, S::Allowed, {false, 0, 0, 0}},
                 {"\x0B\x0C\r7", B::AnyWhitespace, S::Allowed, {false, 7, 1, 4}},
                 {"\0167", B::AnyWhitespace, S::Allowed, {false, 0, 0, 0}},
                 {" 7", B::None, S::Allowed, {false, 0, 0, 0}},
                 {"+5", B::None, S::Refused, {false, 0, 0, 0}},
                 {"+5", B::None, S::Allowed, {false, 5, 1, 2}},
                 {"-", B::None, S::Allowed, {true, 0, 0, 0}},
                 {"99999999999999999999", B::None, S::Refused, {false, uint64_t{1} << 63, 20, 20}}};
    for (const auto& c : cases) {
        const LeadingInteger read = ReadLeadingInteger(c.text, c.blanks, c.sign);
        EXPECT_EQ(std::tuple(read.negative, read.magnitude, read.digits, read.end),
                  std::tuple(c.read.negative, c.read.magnitude, c.read.digits, c.read.end))
            << c.text;
    }
}

TEST(NumberTextTest, ReadsFloatsAndTheWordsWritten) {
    const std::pair<const char*, double> floats[] = {
        {"48.117", 48.117}, {"  -3.5e2x", -350.0}, {"12,5", 12.0},      {"", 0.0},
        {"abc", 0.0},       {".5", 0.5},           {"+INFINITY", kInf}, {"-infinity", -kInf},
        {nullptr, 0.0},     {"+Infinity ", kInf}};
    for (const auto& [text, value] : floats)
        EXPECT_DOUBLE_EQ(TextToFloat(text), value) << (text ? text : "null");
    EXPECT_TRUE(std::isnan(TextToFloat("NaN")) && std::isnan(TextToFloat("nan")));
    // A locale the thread set for itself is still in force after a number is read.
    const locale_t own = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t before = uselocale(own);
    TextToFloat("1.5");
    EXPECT_EQ(uselocale(static_cast<locale_t>(nullptr)), own);
    uselocale(before);
    freelocale(own);
}

TEST(NumberTextTest, WritesNumbersTrimmedOrWithClampedDecimals) {
    TempScope scope;
    EXPECT_STREQ(IntegerToText(kMin, scope.Start()), "-9223372036854775808");
    EXPECT_STREQ(IntegerToText(0, scope.Start()), "0");
    const std::pair<double, std::string> automatic[] = {
        {48.1173, "48.1173"}, {2.0, "2"},           {0.5, "0.5"},         {-0.0, "0"},
        {100.0, "100"},       {-1e-11, "-0"},       {1e-11, "0"},         {-48.5, "-48.5"},
        {kInf, "+Infinity"},  {-kInf, "-Infinity"}, {std::nan(""), "NaN"}};
    for (const auto& [value, text] : automatic)
        EXPECT_EQ(AutoText(value), text) << value;
    EXPECT_EQ(AutoText(0.123456789012), "0.123456789");
    EXPECT_EQ(AutoText(1e20), "1" + std::string(20, '0'));
    EXPECT_EQ(FixedText(600, 1.0), "1." + std::string(512, '0'));
    const std::tuple<int32_t, double, const char*> fixed[] = {
        {3, 2.0, "2.000"}, {-5, 2.6, "3"}, {2, -0.0, "0.00"}};
    for (const auto& [decimals, value, text] : fixed)
        EXPECT_EQ(FixedText(decimals, value), text) << decimals << " " << value;
    EXPECT_EQ(FixedText(512, -std::numeric_limits<double>::max()).size(), 1 + 309 + 1 + 512u);
}

// The window system sets the locale from the environment; a decimal comma must not change ours.
TEST(DecimalCommaLocaleTest, NumbersKeepTheirPoint) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"})
        comma = comma || std::setlocale(LC_ALL, name) != nullptr;
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma (scripts/install-deps makes one)";
    // The C library now really reads with a comma; otherwise this test would prove nothing.
    EXPECT_EQ(std::atof("48.117"), 48.0);
    EXPECT_DOUBLE_EQ(TextToFloat("48.117"), 48.117);
    EXPECT_DOUBLE_EQ(TextToFloat("48,117"), 48.0);
    EXPECT_EQ(AutoText(48.1173) + " " + FixedText(2, 1234.5), "48.1173 1234.50");
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
