#include "ui/platform/qt/qt_run.h"

#include <QApplication>

#include "ui/platform/qt/qt_marble.h"
#include "ui/platform/qt/qt_platform.h"

int RunOnQt(char* programPath, int (*body)()) {
    int argumentCount = 1;
    char* arguments[] = {programPath, nullptr};
    QApplication application(argumentCount, arguments);
    QtUiPlatform platform;
    SetUiPlatform(&platform);
    int status = 0;
    {
        // Marble follows while the program runs; the link goes before the platform.
        QtMarbleLink marble;
        status = body();
    }
    SetUiPlatform(nullptr);
    return status;
}
