#include "ui/platform/qt/qt_text_validator.h"

#include <string>

#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_layer_call.h"

QValidator::State QtTextValidatorAdapter::validate(QString& input, int& position) const {
    if (Target == nullptr) return Acceptable;
    LayerCall call;
    const std::string proposed = ToStdString(input);
    std::string replacement;
    bool replaced = false;
    if (Target->isPartialStringValid(proposed, &replacement, &replaced)) return Acceptable;
    if (!replaced) return Invalid;
    if (replacement == proposed) return Acceptable;

    // The field validates a replacement once more before it shows it; a replacement the
    // validator would not keep would make the two disagree forever, so it counts as a reject.
    std::string second;
    bool secondReplaced = false;
    const bool kept = Target->isPartialStringValid(replacement, &second, &secondReplaced) ||
                      (secondReplaced && second == replacement);
    if (!kept) return Invalid;

    const QString shown = ToQString(replacement);
    // The caret stays where it was relative to the end when the length changed.
    const qsizetype fromEnd = input.size() - position;
    qsizetype caret = shown.size() == input.size() ? position : shown.size() - fromEnd;
    if (caret < 0) caret = 0;
    if (caret > shown.size()) caret = shown.size();
    input = shown;
    position = static_cast<int>(caret);
    return Acceptable;
}
