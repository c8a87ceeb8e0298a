// Arbitrary bytes to the number readers and text operations; coordinates come out plain numbers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

#include "app/coordinate.h"
#include "runtime/number_text.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The bytes as a text, cut at the first zero, as a received chunk is.
    const auto* bytes = reinterpret_cast<const char*>(data);
    const std::string text(bytes, strnlen(bytes, size));
    TempScope scope;
    const double value = TextToFloat(text.c_str());
    FloatToTextAuto(value, scope.Start());
    FloatToText(static_cast<int32_t>(size) - 20, value, scope.Start());
    IntegerToText(TextToInteger(text.c_str()), scope.Start());
    // Split like a sentence: the first field is the value, the second the hemisphere.
    const std::string field = TextField(text.c_str(), 1, ",", scope.Start());
    const std::string hemisphere = TextField(text.c_str(), 2, ",", scope.Start());
    static const std::regex kPlainNumber("-?[0-9]+(\\.[0-9]*)?");
    if (!std::regex_match(ConvertCoordinate(field.c_str(), hemisphere.c_str(), scope.Start()),
                          kPlainNumber))
        std::abort();
    return 0;
}
