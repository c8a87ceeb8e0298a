#include "app/rmc_sentence.h"

#include <limits>
#include <optional>
#include <string_view>

#include "app/coordinate.h"
#include "app/fix_time.h"
#include "app/temp_text.h"
#include "runtime/number_text.h"
#include "runtime/text_ops.h"

namespace {

constexpr size_t kTagLength = 7;  // "$GPRMC,"
constexpr int32_t kTimeField = 2;
constexpr int32_t kStatusField = 3;
constexpr int32_t kLatitudeField = 4;
constexpr int32_t kLongitudeField = 6;
constexpr int32_t kSpeedField = 8;
constexpr int32_t kCourseField = 9;
constexpr int32_t kDateField = 10;
constexpr double kFullCircle = 360.0;
constexpr double kLargestLatitude = 90.0;
constexpr double kLargestLongitude = 180.0;

bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The sentence without its "*hh", or an empty view when the checksum is present but wrong or
// malformed. A sentence without "*" is taken as it is: older receivers and simulators send none.
std::string_view CheckedBody(std::string_view line) {
    const size_t star = line.find('*');
    if (star == std::string_view::npos) return line;
    if (line.size() - star != 3) return {};
    const int high = HexValue(line[star + 1]);
    const int low = HexValue(line[star + 2]);
    if (high < 0 || low < 0) return {};
    unsigned sum = 0;
    for (size_t i = 1; i < star; ++i)
        sum ^= static_cast<unsigned char>(line[i]);
    if (sum != static_cast<unsigned>(high * 16 + low)) return {};
    return line.substr(0, star);
}

// Field n (1-based) of the sentence at ","; a field beyond the last is empty.
std::string Field(const std::string& sentence, int32_t n) {
    return TempText(TextField, sentence.c_str(), n, ",");
}

// True for the shape receivers send a position, speed or course field in: digits with at most
// one point. Anything else (a line garbled on its way, "true" from some phone apps) would read
// as 0: as a position it would send the globe to 0, 0.
bool IsPlainNumber(std::string_view value) {
    bool digit = false;
    bool point = false;
    for (const char c : value) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

// The decimal-degree text of a value field and the hemisphere field after it; false when the
// value field is not a number (empty included) or the result lies beyond limit.
bool TakeCoordinate(const std::string& sentence, int32_t valueField, double limit,
                    std::string* coordinate, double* degrees) {
    const std::string value = Field(sentence, valueField);
    if (!IsPlainNumber(value)) return false;
    const std::string hemisphere = Field(sentence, valueField + 1);
    std::string text = TempText(ConvertCoordinate, value.c_str(), hemisphere.c_str());
    const double number = TextToFloat(text.c_str());
    if (!(number >= -limit && number <= limit)) return false;
    *coordinate = std::move(text);
    *degrees = number;
    return true;
}

// The number in field n when it is a plain number no larger than limit; nothing otherwise.
std::optional<double> NumberField(const std::string& sentence, int32_t n, double limit) {
    const std::string text = Field(sentence, n);
    if (!IsPlainNumber(text)) return std::nullopt;
    const double value = TextToFloat(text.c_str());
    if (!(value <= limit)) return std::nullopt;
    return value;
}

}  // namespace

bool JudgeRmcLine(const char* line, size_t length, Position* position) {
    const std::string_view text(line, length);
    if (text.size() < kTagLength || text[0] != '$' || !IsUpper(text[1]) || !IsUpper(text[2]) ||
        text.substr(3, 4) != "RMC,") {
        return false;
    }
    const std::string sentence(CheckedBody(text));
    if (sentence.empty()) return false;
    if (Field(sentence, kStatusField) == "V") return false;
    Position found;
    if (!TakeCoordinate(sentence, kLatitudeField, kLargestLatitude, &found.latitude,
                        &found.latitudeDegrees) ||
        !TakeCoordinate(sentence, kLongitudeField, kLargestLongitude, &found.longitude,
                        &found.longitudeDegrees)) {
        return false;
    }
    found.fixTime = FixTimeText(Field(sentence, kTimeField), Field(sentence, kDateField));
    found.speedKnots = NumberField(sentence, kSpeedField, std::numeric_limits<double>::max());
    found.courseDegrees = NumberField(sentence, kCourseField, kFullCircle);
    *position = std::move(found);
    return true;
}

bool IsGpsdGreeting(const char* line, size_t length) {
    return std::string_view(line, length).starts_with("{\"class\":\"VERSION\"");
}
