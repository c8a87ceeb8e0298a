// Running the program on Qt. This header names no Qt type, so the program's entry needs no Qt.
#pragma once

// Creates the QApplication (shown only programPath, never the command line's options, which
// the program does not take) and the Qt platform, makes it the layer's platform, puts the
// Marble link in place (qt_marble.h) and runs body.
// Afterwards the layer's platform is null again before the platform and the QApplication go,
// so a worker that outlived body posts into nothing. Returns body's result.
int RunOnQt(char* programPath, int (*body)());
