// Marks the time spent inside a call into the interface layer (a delegate, a gadget's
// functions, the menu delegate, a task). Such a call may close windows or remove views while a
// Qt event handler of one of them is still on the stack, so widgets are then only retired and
// deleted later, when no call is active. GUI thread only.
#pragma once

class LayerCall {
  public:
    LayerCall() { ++depth_; }
    ~LayerCall() { --depth_; }
    LayerCall(const LayerCall&) = delete;
    LayerCall& operator=(const LayerCall&) = delete;

    static bool active() { return depth_ > 0; }

  private:
    static inline int depth_ = 0;
};
