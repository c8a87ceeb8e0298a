#include "ui/formatters.h"

#include "ui/gadget_kind_functions.h"
#include "ui/platform_string.h"

namespace {

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

}  // namespace

bool KyMaximumLengthFormatter::fitsMaximumLength(const std::string& partial) const {
    return PlatformStringLength(partial) <= static_cast<int64_t>(maxLength);
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

bool KyIPFormatter::isPartialStringValid(const std::string& partial, std::string*, bool* replaced) {
    NotReplaced(replaced);
    if (Functions != nullptr && Functions->validateIPString(partial)) return true;
    if (UiPlatform* platform = CurrentUiPlatform()) platform->beep();
    return false;
}
