#include <cstdint>
#include <cstdio>
#include <new>
#include <string_view>
#include <vector>

#include "runtime/number_text.h"
#include "ui/event_queue.h"
#include "ui/gadget_kinds.h"

namespace {

constexpr int64_t kLargestOctet = 255;
constexpr size_t kAddressParts = 4;
constexpr const char* kUnsetAddress = "0.0.0.0";

std::vector<std::string_view> SplitAtDots(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    for (;;) {
        const size_t dot = text.find('.', from);
        if (dot == std::string_view::npos) {
            parts.push_back(text.substr(from));
            return parts;
        }
        parts.push_back(text.substr(from, dot - from));
        from = dot + 1;
    }
}

// The leading integer of a text field's part, read as a text field reads it: blanks, an
// optional sign, digits; 0 when there are none; saturated at the 32-bit limits.
int32_t PartIntValue(std::string_view part) {
    const LeadingInteger read =
        ReadLeadingInteger(part, LeadingBlanks::SpaceAndTab, LeadingSign::Allowed);
    return static_cast<int32_t>(ClampLeadingInteger(read, INT32_MIN, INT32_MAX));
}

}  // namespace

KyIPAddressGadgetFunctions::KyIPAddressGadgetFunctions()
    : formatter_(new (std::nothrow) KyIPFormatter(this)) {}

bool KyIPAddressGadgetFunctions::validateIPString(const PlatformString& text) {
    if (text.find_first_not_of("0123456789.") != PlatformString::npos) return false;
    const std::vector<std::string_view> parts = SplitAtDots(text);
    if (parts.size() != kAddressParts) return false;
    for (std::string_view part : parts) {
        const int32_t value = PartIntValue(part);
        if (value < 0 || value > kLargestOctet) return false;
    }
    return true;
}

// Return in the field sends the action; the field reports only focus and changes.
void KyIPAddressGadgetFunctions::EventHandler(PlatformView*) {}

void KyIPAddressGadgetFunctions::controlTextDidChange() {
    SendEvent(TextChanged);
}

void KyIPAddressGadgetFunctions::becomeFirstResponder() {
    SendEvent(FocusGained);
}

// Unlike a string field, ending the edit with Return is reported as well.
void KyIPAddressGadgetFunctions::textDidEndEditing(bool) {
    SendEvent(FocusLost);
}

void KyIPAddressGadgetFunctions::SetGadgetText(const PlatformString& text) {
    KyGadgetFunctions::SetGadgetText(validateIPString(text) ? text : kUnsetAddress);
}

void KyIPAddressGadgetFunctions::SetGadgetState(int64_t state) {
    const auto address = static_cast<uint64_t>(state);
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address & 0xFF),
                  static_cast<int>((address >> 8) & 0xFF), static_cast<int>((address >> 16) & 0xFF),
                  static_cast<int>((address >> 24) & 0xFF));
    KyGadgetFunctions::SetGadgetText(text);
}

int64_t KyIPAddressGadgetFunctions::GetGadgetState() {
    const PlatformString text = GetGadgetText();
    const std::vector<std::string_view> parts = SplitAtDots(text);
    if (parts.size() != kAddressParts) return 0;
    // Combined in unsigned arithmetic, then read as a signed 32-bit value and widened.
    uint32_t address = 0;
    for (size_t index = 0; index < kAddressParts; ++index) {
        address |= static_cast<uint32_t>(PartIntValue(parts[index])) << (8 * index);
    }
    return static_cast<int32_t>(address);
}

// The field's check of every edit.
bool KyIPFormatter::isPartialStringValid(const std::string& partial, std::string*, bool* replaced) {
    if (replaced != nullptr) *replaced = false;
    if (functions_ != nullptr && functions_->validateIPString(partial)) return true;
    if (UiPlatform* platform = CurrentUiPlatform()) platform->beep();
    return false;
}

int64_t CreateIPAddressGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height) {
    return CreateGadget(new (std::nothrow) KyIPAddressGadgetFunctions, number, kGadgetIPAddress,
                        PlatformViewKind::TextField, x, y, width, height, 0,
                        [](UiPlatform& platform, KyGadgetFunctions& functions, PlatformView* view) {
                            platform.setViewAlignment(view, PlatformTextAlignment::Center);
                            auto& field = static_cast<KyIPAddressGadgetFunctions&>(functions);
                            platform.setTextValidator(view, field.formatter());
                        });
}
