#include <algorithm>
#include <new>

#include "ui/event_queue.h"
#include "ui/gadget_creation.h"
#include "ui/gadget_kind_functions.h"
#include "ui/gadget_kinds.h"

namespace {

constexpr int32_t kMaximumLengthAttribute = 1;

KyMaximumLengthFormatter* FormatterForFlags(int32_t flags) {
    if ((flags & kStringNumeric) != 0) return new (std::nothrow) KyNumericFormatter;
    if ((flags & kStringUpperCase) != 0) return new (std::nothrow) KyUpperCaseFormatter;
    if ((flags & kStringLowerCase) != 0) return new (std::nothrow) KyLowerCaseFormatter;
    return new (std::nothrow) KyMaximumLengthFormatter;
}

}  // namespace

KyStringGadgetFunctions::KyStringGadgetFunctions(int32_t flags)
    : Formatter(FormatterForFlags(flags)), IsPassword((flags & kStringPassword) != 0) {}

// Return in a string field sends the action; it means nothing here.
void KyStringGadgetFunctions::EventHandler(PlatformView*) {}

void KyStringGadgetFunctions::controlTextDidChange() {
    SendEvent(TextChanged);
}

// A password field reports changes only.
void KyStringGadgetFunctions::becomeFirstResponder() {
    if (!IsPassword) SendEvent(FocusGained);
}

// Return or Enter confirms the text without leaving the field, so it is no focus loss.
void KyStringGadgetFunctions::textDidEndEditing(bool endedByReturn) {
    if (!IsPassword && !endedByReturn) SendEvent(FocusLost);
}

void KyStringGadgetFunctions::SetGadgetText(const PlatformString& text) {
    const int32_t flags = Gadget != nullptr ? Gadget->flags : 0;
    if ((flags & kStringLowerCase) != 0) {
        KyGadgetFunctions::SetGadgetText(PlatformStringLowerCase(text));
    } else if ((flags & kStringUpperCase) != 0) {
        KyGadgetFunctions::SetGadgetText(PlatformStringUpperCase(text));
    } else {
        KyGadgetFunctions::SetGadgetText(text);
    }
}

void KyStringGadgetFunctions::SetGadgetAttribute(int32_t attribute, int64_t value) {
    if (attribute != kMaximumLengthAttribute || Formatter == nullptr) return;
    // The length is a 32-bit count; larger values mean "no limit", smaller ones "nothing".
    const int64_t clamped = std::clamp<int64_t>(value, INT32_MIN, INT32_MAX);
    Formatter->setMaximumLength(static_cast<int32_t>(clamped));
}

int64_t KyStringGadgetFunctions::GetGadgetAttribute(int32_t attribute) {
    if (attribute != kMaximumLengthAttribute || Formatter == nullptr) return 0;
    return Formatter->maximumLength();
}

int64_t CreateStringGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags) {
    const PlatformString initial = TextToPlatformString(text);
    const PlatformViewKind viewKind = (flags & kStringPassword) != 0 ? PlatformViewKind::SecureField
                                                                     : PlatformViewKind::TextField;
    return CreateGadget(
        new (std::nothrow) KyStringGadgetFunctions(flags), number, kGadgetString, viewKind, x, y,
        width, height, flags,
        [&](UiPlatform& platform, KyGadgetFunctions& functions, PlatformView* view) {
            if ((flags & kStringReadOnly) != 0) platform.setViewEditable(view, false);
            if ((flags & kStringBorderless) != 0) platform.setViewBordered(view, false);
            auto& field = static_cast<KyStringGadgetFunctions&>(functions);
            platform.setTextValidator(view, field.formatter());
            functions.SetGadgetText(initial);
        });
}
