#include <algorithm>
#include <new>

#include "ui/event_queue.h"
#include "ui/gadget_kinds.h"

namespace {

constexpr int32_t kMaximumLengthAttribute = 1;

void NotReplaced(bool* replaced) {
    if (replaced != nullptr) *replaced = false;
}

// Rejects the edit but lets text stand in its place.
bool Replace(std::string* replacement, bool* replaced, std::string text) {
    if (replacement != nullptr && replaced != nullptr) {
        *replacement = std::move(text);
        *replaced = true;
    }
    return false;
}

KyMaximumLengthFormatter* FormatterForFlags(int32_t flags) {
    if ((flags & kStringNumeric) != 0) return new (std::nothrow) KyNumericFormatter;
    if ((flags & kStringUpperCase) != 0) return new (std::nothrow) KyUpperCaseFormatter;
    if ((flags & kStringLowerCase) != 0) return new (std::nothrow) KyLowerCaseFormatter;
    return new (std::nothrow) KyMaximumLengthFormatter;
}

}  // namespace

KyStringGadgetFunctions::KyStringGadgetFunctions(int32_t flags)
    : formatter_(FormatterForFlags(flags)), isPassword_((flags & kStringPassword) != 0) {}

// Return in a string field sends the action; it means nothing here.
void KyStringGadgetFunctions::EventHandler(PlatformView*) {}

void KyStringGadgetFunctions::controlTextDidChange() {
    SendEvent(TextChanged);
}

// A password field reports changes only.
void KyStringGadgetFunctions::becomeFirstResponder() {
    if (!isPassword_) SendEvent(FocusGained);
}

// Return or Enter confirms the text without leaving the field, so it is no focus loss.
void KyStringGadgetFunctions::textDidEndEditing(bool endedByReturn) {
    if (!isPassword_ && !endedByReturn) SendEvent(FocusLost);
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
    if (attribute != kMaximumLengthAttribute || formatter_ == nullptr) return;
    // The length is a 32-bit count; larger values mean "no limit", smaller ones "nothing".
    const int64_t clamped = std::clamp<int64_t>(value, INT32_MIN, INT32_MAX);
    formatter_->setMaximumLength(static_cast<int32_t>(clamped));
}

int64_t KyStringGadgetFunctions::GetGadgetAttribute(int32_t attribute) {
    if (attribute != kMaximumLengthAttribute || formatter_ == nullptr) return 0;
    return formatter_->maximumLength();
}

// --- the field's checks ---------------------------------------------------------------------

bool KyMaximumLengthFormatter::fitsMaximumLength(const std::string& partial) const {
    return PlatformStringLength(partial) <= static_cast<int64_t>(maxLength_);
}

bool KyMaximumLengthFormatter::isPartialStringValid(const std::string& partial, std::string*,
                                                    bool* replaced) {
    NotReplaced(replaced);
    return fitsMaximumLength(partial);
}

bool KyNumericFormatter::isPartialStringValid(const std::string& partial, std::string*,
                                              bool* replaced) {
    NotReplaced(replaced);
    if (!fitsMaximumLength(partial)) return false;
    return partial.find_first_not_of("0123456789") == std::string::npos;
}

bool KyUpperCaseFormatter::isPartialStringValid(const std::string& partial,
                                                std::string* replacement, bool* replaced) {
    NotReplaced(replaced);
    if (!fitsMaximumLength(partial)) return false;
    return Replace(replacement, replaced, PlatformStringUpperCase(partial));
}

bool KyLowerCaseFormatter::isPartialStringValid(const std::string& partial,
                                                std::string* replacement, bool* replaced) {
    NotReplaced(replaced);
    if (!fitsMaximumLength(partial)) return false;
    return Replace(replacement, replaced, PlatformStringLowerCase(partial));
}

// --- creation -------------------------------------------------------------------------------

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
