#include <cctype>
#include <string>
#include <vector>

#include "ui/menus.h"
#include "ui/platform_string.h"

namespace {

// Function keys F1 to F12 are the private-use characters U+F704 to U+F70F.
constexpr unsigned kFirstFunctionKey = 0xF704;
constexpr int kFunctionKeys = 12;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::string Utf8Of(unsigned codePoint) {
    // Three bytes suffice for the function-key characters.
    std::string out;
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
    return out;
}

// 1 to 12 for "F1" to "F12", else 0.
int FunctionKeyNumber(const std::string& token) {
    if (token.size() < 2 || token.size() > 3 || token[0] != 'F') return 0;
    int number = 0;
    for (size_t i = 1; i < token.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(token[i]))) return 0;
        number = number * 10 + (token[i] - '0');
    }
    return number >= 1 && number <= kFunctionKeys ? number : 0;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

MenuItemText ParseMenuItemText(const char* text) {
    std::string plain = text != nullptr ? text : "";
    std::erase(plain, '&');  // Windows-style mnemonics have no meaning here

    MenuItemText result;
    const std::vector<std::string> parts = Split(plain, '\t');
    if (parts.size() < 2) {
        result.title = TextToPlatformString(plain.c_str());
        return result;
    }
    result.title = TextToPlatformString(parts[0].c_str());
    for (const std::string& token : Split(UpperAscii(parts[1]), '+')) {
        if (token == "CMD") {
            result.modifiers |= kModifierCommand;
        } else if (token == "SHIFT") {
            result.modifiers |= kModifierShift;
        } else if (token == "ALT") {
            result.modifiers |= kModifierOption;
        } else if (token == "CTRL") {
            result.modifiers |= kModifierControl;
        } else if (const int key = FunctionKeyNumber(token); key != 0) {
            result.modifiers |= kModifierFunctionKey;
            result.key = Utf8Of(kFirstFunctionKey + static_cast<unsigned>(key) - 1);
        } else {
            result.key = TextToPlatformString(LowerAscii(token).c_str());
        }
    }
    return result;
}
