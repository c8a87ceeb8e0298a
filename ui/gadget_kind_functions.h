// The behaviour of each gadget kind: KyGadgetFunctions with what the kind does differently.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/formatters.h"
#include "ui/gadget_functions.h"

// Static text. Has no state; disabling greys the text, the label itself stays enabled.
class KyTextGadgetFunctions : public KyGadgetFunctions {
  public:
    void DisableGadget(int32_t state) override;
    void SetGadgetState(int64_t state) override;
    int64_t GetGadgetState() override;
};

// Push or toggle button. The title is its text; the platform flips its 0/1 state on every
// press before the action arrives.
class KyButtonGadgetFunctions : public KyGadgetFunctions {
  public:
    void SetGadgetText(const PlatformString& text) override;
    PlatformString GetGadgetText() override;
    // A rounded button only looks right 25 points high: at any other height it becomes square
    // and stays square.
    void ResizeGadget(int64_t x, int64_t y, int64_t width, int64_t height) override;
};

// Single-line text field (a password field with flag 0x1). Posts focus and change events but
// no action. Owns its formatter.
class KyStringGadgetFunctions : public KyGadgetFunctions {
  public:
    // Chooses the formatter from the creation flags; null formatter when memory ran out.
    explicit KyStringGadgetFunctions(int32_t flags);

    void EventHandler(PlatformView* sender) override;
    void controlTextDidChange() override;
    void becomeFirstResponder() override;
    void textDidEndEditing(bool endedByReturn) override;
    // Lower case wins over upper case here; the formatter is not consulted.
    void SetGadgetText(const PlatformString& text) override;
    // Attribute 1: the formatter's maximum length.
    void SetGadgetAttribute(int32_t attribute, int64_t value) override;
    int64_t GetGadgetAttribute(int32_t attribute) override;

    KyMaximumLengthFormatter* formatter() const { return Formatter.get(); }

  private:
    std::unique_ptr<KyMaximumLengthFormatter> Formatter;
    bool IsPassword;
};

// Slider. State: its integer value. Attributes 1 minimum, 2 maximum.
class KyTrackBarGadgetFunctions : public KyGadgetFunctions {
  public:
    void SetGadgetAttribute(int32_t attribute, int64_t value) override;
    int64_t GetGadgetAttribute(int32_t attribute) override;
};

// IPv4 address field: dotted text, validated; state the 32-bit address with the first octet in
// the lowest byte. Posts focus and change events but no action. Owns its formatter.
class KyIPAddressGadgetFunctions : public KyGadgetFunctions {
  public:
    KyIPAddressGadgetFunctions();

    // Only digits and dots, exactly four parts, each part 0..255 (an empty part counts as 0).
    static bool validateIPString(const PlatformString& text);

    void EventHandler(PlatformView* sender) override;
    void controlTextDidChange() override;
    void becomeFirstResponder() override;
    void textDidEndEditing(bool endedByReturn) override;
    // A text that does not validate shows as "0.0.0.0".
    void SetGadgetText(const PlatformString& text) override;
    void SetGadgetState(int64_t state) override;
    // 0 unless the text has exactly four parts; a fourth octet of 128 or more is negative.
    int64_t GetGadgetState() override;

    KyIPFormatter* formatter() const { return Formatter.get(); }

  private:
    std::unique_ptr<KyIPFormatter> Formatter;
};
