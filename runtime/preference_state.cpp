#include "runtime/preference_state.h"

#include <cstdlib>

#include "runtime/charset.h"
#include "runtime/preference_file.h"

namespace {

PreferenceState preferences;
bool updateDenied = false;

}  // namespace

PreferenceState& Preferences() {
    return preferences;
}

void PreferenceStateDiscard() {
    PreferenceEntriesFree(preferences.entries);
    std::free(preferences.content);
    std::free(preferences.path);
    std::free(preferences.pendingGroup);
    preferences = PreferenceState{};
}

const char* PreferenceToFileEncoding(const char* text, char** copy) {
    *copy = nullptr;
    if (text == nullptr) text = "";
    if (preferences.encoding != kPreferenceUtf8Encoding) return text;
    *copy = TextToUtf8Copy(text);
    return *copy;
}

void PreferenceDenyUpdateForTesting(bool deny) {
    updateDenied = deny;
}

bool PreferenceUpdateDenied() {
    return updateDenied;
}

void PreferenceLibraryInit() {
    PreferenceStateDiscard();
}

void PreferenceLibraryEnd() {
    PreferenceClose();
}
