#include "app/fix_time.h"

#include <cstddef>

namespace {

constexpr int kLatestHour = 23;
constexpr int kLatestMinute = 59;
constexpr int kLatestSecond = 60;  // a leap second
constexpr int kLatestMonth = 12;
// Two-digit years from this one on belong to the 1900s: receivers came after 1980.
constexpr int kFirstYearOf1900s = 80;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The two-digit number at text[at]; -1 when those are not two digits.
int TwoDigits(std::string_view text, size_t at) {
    if (text.size() < at + 2 || !IsDigit(text[at]) || !IsDigit(text[at + 1])) return -1;
    return (text[at] - '0') * 10 + (text[at + 1] - '0');
}

int DaysInMonth(int month, int year) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

void AppendTwoDigits(std::string& out, int value) {
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

std::string FixTimeText(std::string_view time, std::string_view date) {
    const int hour = TwoDigits(time, 0);
    const int minute = TwoDigits(time, 2);
    const int second = TwoDigits(time, 4);
    if (hour < 0 || hour > kLatestHour || minute < 0 || minute > kLatestMinute || second < 0 ||
        second > kLatestSecond) {
        return {};
    }
    // After the seconds: nothing, or a point and at least one digit.
    const std::string_view fraction = time.substr(6);
    if (!fraction.empty()) {
        if (fraction.size() < 2 || fraction[0] != '.') return {};
        for (const char c : fraction.substr(1))
            if (!IsDigit(c)) return {};
    }
    const int day = TwoDigits(date, 0);
    const int month = TwoDigits(date, 2);
    const int shortYear = TwoDigits(date, 4);
    if (date.size() != 6 || day < 1 || month < 1 || month > kLatestMonth || shortYear < 0)
        return {};
    const int year = (shortYear >= kFirstYearOf1900s ? 1900 : 2000) + shortYear;
    if (day > DaysInMonth(month, year)) return {};

    std::string text;
    text.reserve(24 + fraction.size());
    AppendTwoDigits(text, year / 100);
    AppendTwoDigits(text, year % 100);
    text += '-';
    AppendTwoDigits(text, month);
    text += '-';
    AppendTwoDigits(text, day);
    text += 'T';
    AppendTwoDigits(text, hour);
    text += ':';
    AppendTwoDigits(text, minute);
    text += ':';
    AppendTwoDigits(text, second);
    text += fraction;
    text += 'Z';
    return text;
}
