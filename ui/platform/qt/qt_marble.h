// The window-system side of following Marble: while a QtMarbleLink exists, MoveMarble sends
// each position to a Marble on the session bus (service "org.kde.marble", object "/Marble",
// methods setCenter and setZoom). This header names no Qt type.
//
// The link watches who owns Marble's name on the bus, so it finds a Marble started at any time
// and forgets one that quits, with no bus traffic per position while there is none. The calls
// are sent without waiting for an answer: a Marble that hangs holds up neither the caller nor
// the GUI thread. Without a session bus, and where Qt was built without D-Bus, it does nothing.
//
// Create and destroy it on the GUI thread, which must run Qt's events meanwhile (the name's
// owner changes arrive there).
#pragma once

#include <memory>

class QtMarbleLink {
  public:
    QtMarbleLink();
    // Puts the do-nothing mover back, waiting for a call in progress.
    ~QtMarbleLink();
    QtMarbleLink(const QtMarbleLink&) = delete;
    QtMarbleLink& operator=(const QtMarbleLink&) = delete;

  private:
    struct Watch;
    std::unique_ptr<Watch> watch_;
};
