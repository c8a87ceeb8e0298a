// The text of a preference file as it is saved: the mark and an empty line for a UTF-8 file,
// then one line per entry, each ended by a single line feed.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/preference_file.h"
#include "runtime/preference_state.h"

namespace {

// Measures the text on a first pass (no output) and writes it on the second, so both passes
// run the same code and agree on the length.
class TextSink {
  public:
    explicit TextSink(char* output) : output_(output) {}

    void Add(const char* text) { AddBytes(text, std::strlen(text)); }

    void AddBytes(const char* bytes, size_t count) {
        if (count > SIZE_MAX - 1 - length_) {
            overflowed_ = true;
            return;
        }
        if (output_ != nullptr) std::memcpy(output_ + length_, bytes, count);
        length_ += count;
    }

    size_t length() const { return length_; }
    bool overflowed() const { return overflowed_; }

  private:
    char* output_;
    size_t length_ = 0;
    bool overflowed_ = false;
};

void RenderInto(const PreferenceState& state, TextSink& sink) {
    const char* separator = (state.flags & kPreferenceCompactSeparator) != 0 ? "=" : " = ";
    if (state.encoding == kPreferenceUtf8Encoding) sink.Add("\xEF\xBB\xBF\n");
    bool firstGroup = true;
    for (const PreferenceEntry* entry = state.entries.first; entry != nullptr;
         entry = entry->next) {
        switch (entry->kind) {
            case PreferenceEntryKind::Group:
                if ((state.flags & kPreferenceSpaceGroups) != 0 && !firstGroup) sink.Add("\n");
                firstGroup = false;
                sink.Add("[");
                sink.Add(entry->value);
                sink.Add("]");
                break;
            case PreferenceEntryKind::Comment:
                sink.Add("; ");
                sink.Add(entry->value);
                break;
            case PreferenceEntryKind::Key:
                sink.Add(entry->key);
                sink.Add(separator);
                sink.Add(entry->value);
                break;
        }
        sink.Add("\n");
    }
}

}  // namespace

char* PreferenceRender(const PreferenceState& state, size_t* length) {
    TextSink measure(nullptr);
    RenderInto(state, measure);
    if (measure.overflowed()) return nullptr;
    auto* text = static_cast<char*>(std::malloc(measure.length() + 1));
    if (text == nullptr) return nullptr;
    TextSink writer(text);
    RenderInto(state, writer);
    text[writer.length()] = '\0';
    *length = writer.length();
    return text;
}
