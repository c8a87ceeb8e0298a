// Process entry: Qt is the window system; the tracker's main procedure does the rest. The
// program takes no options, so Qt is not shown the command line either.
#include <QApplication>

#include "app/navlume.h"
#include "ui/platform/qt/qt_platform.h"

int main(int, char** argv) {
    int qtArgumentCount = 1;
    char* qtArguments[] = {argv[0], nullptr};
    QApplication application(qtArgumentCount, qtArguments);
    QtUiPlatform platform;
    SetUiPlatform(&platform);
    const int status = NavlumeMain();
    SetUiPlatform(nullptr);
    return status;
}
