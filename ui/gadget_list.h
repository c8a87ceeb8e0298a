// KyGadgetList: which window (and which container view in it) receives the gadgets created
// next. One list per window that received gadgets; one of them is current. GUI thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/platform_interface.h"

class KyGadgetList {
  public:
    explicit KyGadgetList(PlatformWindow* window);

    PlatformWindow* window() const { return topWindow_; }
    // The container that receives new gadgets; null stands for the window's content area.
    PlatformView* top() const { return topView_; }
    int32_t stackIndex() const { return stackIndex_; }
    int32_t stackSize() const { return stackSize_; }
    // Saves the current container and makes view the one that receives gadgets.
    void push(PlatformView* view);
    void pushNoView() { push(nullptr); }
    // Replaces the current container without saving it.
    void set(PlatformView* view) { topView_ = view; }
    // Returns to the saved container, or to the content area when none is saved.
    void pop();

    static KyGadgetList* currentList();
    static PlatformWindow* currentWindow();
    static KyGadgetList* listFromWindow(PlatformWindow* window);
    // Makes window's list current (creating it); returns the window that was current before.
    static PlatformWindow* setWindow(PlatformWindow* window);
    // Forgets window's list; when it was current, no list is current afterwards.
    static void removeWindow(PlatformWindow* window);
    // Forgets every list (library end).
    static void removeAll();

  private:
    PlatformWindow* topWindow_;
    PlatformView* topView_ = nullptr;
    std::vector<PlatformView*> views_;
    int32_t stackSize_ = 10;
    int32_t stackIndex_ = 0;
};
