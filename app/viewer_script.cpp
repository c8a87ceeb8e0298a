#include "app/viewer_script.h"

#include <cstdint>

#include "runtime/number_text.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"

char* ComposeViewerScript(const char* latitude, const char* longitude, int64_t distance,
                          const char* lineBreak, int64_t start) {
    // Private copies: the arguments may lie in the temporary buffer at or after start, where
    // the script is written.
    StringVariable latitudeText;
    StringVariable longitudeText;
    StringVariable separator;
    StringCopyNew(latitudeText.slot(), latitude);
    StringCopyNew(longitudeText.slot(), longitude);
    StringCopyNew(separator.slot(), lineBreak);

    TempEmptyAt(start);
    TempAppend("tell application \"Google Earth\"");
    TempAppend(separator.text());
    TempAppend("set viewInfo To GetViewInfo");
    TempAppend(separator.text());
    TempAppend("set latitude of viewInfo To ");
    TempAppend(latitudeText.text());
    TempAppend(separator.text());
    TempAppend("set longitude of viewInfo To ");
    TempAppend(longitudeText.text());
    TempAppend(separator.text());
    TempAppend("set distance of viewInfo To ");
    IntegerToText(distance, TempPosition());
    TempAppend(separator.text());
    TempAppend("set tilt of viewInfo To 0");
    TempAppend(separator.text());
    TempAppend("SetViewInfo viewInfo speed 0.9");
    TempAppend(separator.text());
    TempAppend("End tell");
    return TempAt(start);
}
