// QtMarbleLink where Qt has no D-Bus module: Marble cannot be reached, and moving does nothing.
#include "ui/platform/qt/qt_marble.h"

struct QtMarbleLink::Watch {};

QtMarbleLink::QtMarbleLink() = default;
QtMarbleLink::~QtMarbleLink() = default;
