// The gadget kinds: label, button, string field, track bar and IP-address field. Each creation
// function returns the new number when number is -1, otherwise the view as a non-zero value; 0
// on failure. Gadgets go into the window that is the current gadget list. Below them, each
// kind's behaviour (KyGadgetFunctions with what the kind does differently) and the
// per-keystroke checks of the text fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ui/gadget_functions.h"

enum TextGadgetFlag : int32_t { kTextRight = 0x1, kTextCenter = 0x2, kTextBorder = 0x4 };
enum ButtonGadgetFlag : int32_t {
    kButtonRight = 0x1,
    kButtonLeft = 0x2,
    kButtonToggle = 0x4,
    kButtonDefault = 0x8,
};
enum StringGadgetFlag : int32_t {
    kStringPassword = 0x1,
    kStringReadOnly = 0x2,
    kStringUpperCase = 0x4,
    kStringLowerCase = 0x8,
    kStringNumeric = 0x10,
    kStringBorderless = 0x20,
};
enum TrackBarGadgetFlag : int32_t { kTrackBarTicks = 0x1 };

int64_t CreateTextGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                         const char* text, int32_t flags);
int64_t CreateTextGadget0(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          const char* text);
int64_t CreateButtonGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags = 0);
int64_t CreateStringGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                           const char* text, int32_t flags = 0);
int64_t CreateTrackBarGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                             int32_t minimum, int32_t maximum, int32_t flags = 0);
int64_t CreateIPAddressGadget(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height);

// --- per-keystroke checks ------------------------------------------------------------------
// The platform asks the field's validator before every edit with the whole text the edit would
// produce.

class KyIPAddressGadgetFunctions;

// Accepts an edit while the text has at most maximumLength characters (UTF-16 units).
class KyMaximumLengthFormatter : public PlatformTextValidator {
  public:
    void setMaximumLength(int32_t length) { maxLength_ = length; }
    int32_t maximumLength() const { return maxLength_; }
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;

  protected:
    bool fitsMaximumLength(const std::string& partial) const;

  private:
    int32_t maxLength_ = 2147483647;
};

// Digits only: no sign, no decimal point, no blanks. Accepted edits stand as typed.
class KyNumericFormatter : public KyMaximumLengthFormatter {
  public:
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;
};

// Every accepted edit is replaced by its upper-case form.
class KyUpperCaseFormatter : public KyMaximumLengthFormatter {
  public:
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;
};

// Every accepted edit is replaced by its lower-case form.
class KyLowerCaseFormatter : public KyMaximumLengthFormatter {
  public:
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;
};

// Accepts only full dotted addresses (the field's validateIPString); any other edit is refused
// with a beep, so deleting a dot or typing into an empty field never gets through.
class KyIPFormatter : public PlatformTextValidator {
  public:
    // functions: the field's functions object, which owns this formatter.
    explicit KyIPFormatter(KyIPAddressGadgetFunctions* functions) : functions_(functions) {}
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;

  private:
    KyIPAddressGadgetFunctions* functions_;
};

// --- behaviour of the kinds -----------------------------------------------------------------

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

    KyMaximumLengthFormatter* formatter() const { return formatter_.get(); }

  private:
    std::unique_ptr<KyMaximumLengthFormatter> formatter_;
    bool isPassword_;
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

    KyIPFormatter* formatter() const { return formatter_.get(); }

  private:
    std::unique_ptr<KyIPFormatter> formatter_;
};
