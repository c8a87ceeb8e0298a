// Texts built in the temporary buffer and kept beyond the statement that built them.
#pragma once

#include <string>
#include <utility>

#include "runtime/temp_buffer.h"

// Calls compose(args..., start) with start at the buffer's current position and returns a copy
// of the text it wrote; the buffer is back at that position afterwards. compose is any text
// operation of the runtime (GetGadgetText, TextField, FloatToTextAuto, ...): the copy outlives
// later growth of the buffer and other operations writing over it. A null result reads as empty.
template <typename Compose, typename... Args>
std::string TempText(Compose compose, Args&&... args) {
    TempScope scope;
    const char* text = compose(std::forward<Args>(args)..., scope.Start());
    return text != nullptr ? std::string(text) : std::string();
}
