#include "app/chunk_position.h"

#include "app/coordinate.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

namespace {

constexpr const char* kSentenceTag = "$GPRMC";
constexpr int32_t kTagLength = 6;
constexpr int32_t kLatitudeField = 4;
constexpr int32_t kLongitudeField = 6;

// Field n of the chunk, kept in a string variable.
void TakeField(const char* chunk, int32_t index, StringVariable* field) {
    const int64_t start = TempPosition();
    TextField(chunk, index, ",", start);
    StringAssignFromTemp(field->slot(), start);
}

// The decimal-degree text of a value field and the hemisphere field after it.
void TakeCoordinate(const char* chunk, int32_t valueField, StringVariable* coordinate) {
    StringVariable value;
    StringVariable hemisphere;
    TakeField(chunk, valueField, &value);
    TakeField(chunk, valueField + 1, &hemisphere);
    const int64_t start = TempPosition();
    ConvertCoordinate(value.text(), hemisphere.text(), start);
    StringAssignFromTemp(coordinate->slot(), start);
}

}  // namespace

bool PositionFromChunk(const char* chunk, StringVariable* latitude, StringVariable* longitude) {
    {
        // Case matters, and the chunk must begin with the "$": the server writes one sentence
        // per write, so a sentence that does not start a chunk is a split or trailing one.
        TempScope scope;
        if (TextCompare(TextLeft(chunk, kTagLength, scope.start()), kSentenceTag) != 1) {
            return false;
        }
    }
    TakeCoordinate(chunk, kLatitudeField, latitude);
    TakeCoordinate(chunk, kLongitudeField, longitude);
    return true;
}
