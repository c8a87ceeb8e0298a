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
    StringCopyNew(latitudeText.Slot(), latitude);
    StringCopyNew(longitudeText.Slot(), longitude);
    StringCopyNew(separator.Slot(), lineBreak);

    TempEmptyAt(start);
    TempAppend("tell application \"Google Earth\"");
    TempAppend(separator.Text());
    TempAppend("set viewInfo To GetViewInfo");
    TempAppend(separator.Text());
    TempAppend("set latitude of viewInfo To ");
    TempAppend(latitudeText.Text());
    TempAppend(separator.Text());
    TempAppend("set longitude of viewInfo To ");
    TempAppend(longitudeText.Text());
    TempAppend(separator.Text());
    TempAppend("set distance of viewInfo To ");
    IntegerToText(distance, TempPosition());
    TempAppend(separator.Text());
    TempAppend("set tilt of viewInfo To 0");
    TempAppend(separator.Text());
    TempAppend("SetViewInfo viewInfo speed 0.9");
    TempAppend(separator.Text());
    TempAppend("End tell");
    return TempAt(start);
}
