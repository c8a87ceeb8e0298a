// A QValidator that asks the gadget's PlatformTextValidator about every edit of a text field.
#pragma once

#include <QValidator>

#include "ui/platform_interface.h"

class QtTextValidatorAdapter final : public QValidator {
  public:
    explicit QtTextValidatorAdapter(QObject* parent) : QValidator(parent) {}

    // The validator asked from now on (null: every edit stands). Owned by the gadget.
    void setTarget(PlatformTextValidator* target) { Target = target; }
    PlatformTextValidator* target() const { return Target; }

    // Accepts the edit, rejects it (the field keeps its text), or puts the validator's
    // replacement in its place.
    State validate(QString& input, int& position) const override;

  private:
    PlatformTextValidator* Target = nullptr;
};
