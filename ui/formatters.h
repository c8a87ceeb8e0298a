// Per-keystroke checks of string and IP-address fields. The platform asks the field's
// validator before every edit with the whole text the edit would produce.
#pragma once

#include <cstdint>
#include <string>

#include "ui/platform_interface.h"

class KyIPAddressGadgetFunctions;

// Accepts an edit while the text has at most maximumLength characters (UTF-16 units).
class KyMaximumLengthFormatter : public PlatformTextValidator {
  public:
    void setMaximumLength(int32_t length) { maxLength = length; }
    int32_t maximumLength() const { return maxLength; }
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;

  protected:
    bool fitsMaximumLength(const std::string& partial) const;

  private:
    int32_t maxLength = 2147483647;
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
    explicit KyIPFormatter(KyIPAddressGadgetFunctions* functions) : Functions(functions) {}
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override;

  private:
    KyIPAddressGadgetFunctions* Functions;
};
