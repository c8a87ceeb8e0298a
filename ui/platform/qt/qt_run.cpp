#include "ui/platform/qt/qt_run.h"

#include <QApplication>

#include "ui/platform/qt/qt_platform.h"

int RunOnQt(char* programPath, int (*body)()) {
    int argumentCount = 1;
    char* arguments[] = {programPath, nullptr};
    QApplication application(argumentCount, arguments);
    QtUiPlatform platform;
    SetUiPlatform(&platform);
    const int status = body();
    SetUiPlatform(nullptr);
    return status;
}
