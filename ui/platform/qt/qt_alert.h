// The modal alert: a QMessageBox with a headline, a secondary text and the given buttons.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/platform_interface.h"

// Runs the alert application-modal and returns the tag of the pressed button; with no buttons
// it shows one OK button and returns 0. 0 as well when the alert ends without a button.
int64_t RunQtAlert(const QString& windowTitle, const std::string& title, const std::string& text,
                   const std::vector<PlatformAlertButton>& buttons);
