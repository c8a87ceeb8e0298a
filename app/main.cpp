// Process entry: the tracker's main procedure, run on Qt as the window system.
#include "app/navlume.h"
#include "ui/platform/qt/qt_run.h"

int main(int, char** argv) {
    return RunOnQt(argv[0], NavlumeMain);
}
