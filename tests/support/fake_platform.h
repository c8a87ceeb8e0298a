// An in-memory window system for the layer's tests: windows, views, menus and alerts are plain
// records, and the test plays the user (clicks, typing, the close button, menu choices).
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/platform_interface.h"

struct PlatformView {
    PlatformViewKind kind = PlatformViewKind::Label;
    PlatformWindow* window = nullptr;
    KyGadgetFunctions* functions = nullptr;
    PlatformRect frame;
    std::string text;
    int64_t intValue = 0, tickMarks = 0;
    bool enabled = true, hidden = false, bordered = true, editable = true, greyed = false;
    bool rounded = false, toggles = false, isDefault = false, snapToTicks = false;
    PlatformTextAlignment alignment = PlatformTextAlignment::Natural;
    PlatformTextValidator* validator = nullptr;
    double minimum = 0, maximum = 1;
};

struct PlatformWindow {
    PlatformRect content;
    PlatformWindowStyle style;
    std::string title;
    bool visible = false, zoomed = false, miniaturized = false;
    KyWindowEvents* delegate = nullptr;
    PlatformWindow* parent = nullptr;
    std::vector<std::unique_ptr<PlatformView>> views;
};

struct PlatformMenuBar {
    bool holdsApplicationMenu = false;
};

// What an alert showed.
struct FakeAlert {
    std::string title, text;
    std::vector<PlatformAlertButton> buttons;
};

class FakePlatform : public UiPlatform {
  public:
    ~FakePlatform() override;

    // --- the test plays the user (GUI thread) ---------------------------------------------
    // Presses a button (its state flips first) or reports a slider's action.
    void click(PlatformView* view);
    void moveSlider(PlatformView* view, int64_t value);
    // Types text one character at a time; each keystroke goes through the validator.
    void type(PlatformView* view, const std::string& text);
    // Replaces the whole text as one edit (paste over a selection, a deletion).
    void editText(PlatformView* view, const std::string& text);
    // Focuses view; the previously focused field's editing ends (not by Return).
    void focus(PlatformView* view);
    void pressReturn(PlatformView* view);
    void pressCloseButton(PlatformWindow* window);
    void chooseAppMenuItem(PlatformAppMenuItem item);
    // Queues a user action to be handled by a later handleOneEvent (as a platform event).
    void queueUserAction(std::function<void()> action) { postToGuiThread(std::move(action)); }
    // Drops every queued action without running it (the program they were meant for ended).
    void discardPendingActions();
    // The answer of the next alert (a button's tag; 0: the OK button).
    void answerNextAlert(int64_t tag) { alertAnswers_.push_back(tag); }

    // --- what the test inspects -----------------------------------------------------------
    std::vector<PlatformWindow*> windows() const;
    size_t menuBarCount() const { return menuBars_.size(); }
    std::vector<FakeAlert> alerts;
    int beeps = 0;
    std::string appMenuName;                        // empty until the application menu is built
    bool appMenuEnabled[3] = {false, false, true};  // About, Preferences, Quit
    PlatformView* focusedView = nullptr;
    std::string executable = "/opt/Navlume.app/Contents/MacOS/Navlume";
    int64_t handledEvents = 0;

    // --- UiPlatform ------------------------------------------------------------------------
    void bringToFront() override {}
    std::string executablePath() override { return executable; }
    bool handleOneEvent(int32_t timeoutMs) override;
    void wake() override { postToGuiThread(nullptr); }
    void postToGuiThread(std::function<void()> task) override;
    void beep() override { ++beeps; }

    PlatformRect mainScreenFrame() override { return {0, 0, 1920, 1080}; }
    PlatformRect frameRectForContentRect(PlatformRect content, PlatformWindowStyle style) override;
    PlatformWindow* createWindow(PlatformRect content, PlatformWindowStyle style) override;
    void setWindowDelegate(PlatformWindow* w, KyWindowEvents* delegate) override {
        w->delegate = delegate;
    }
    void setWindowTitle(PlatformWindow* w, const std::string& title) override { w->title = title; }
    PlatformRect windowFrame(PlatformWindow* w) override {
        return frameRectForContentRect(w->content, w->style);
    }
    void setWindowFrame(PlatformWindow* window, PlatformRect frame) override;
    void centerWindow(PlatformWindow* window) override;
    void showWindow(PlatformWindow* window, bool activate) override;
    void miniaturizeWindow(PlatformWindow* window) override;
    void zoomWindow(PlatformWindow* window) override;
    bool isWindowVisible(PlatformWindow* w) override { return w->visible; }
    bool isWindowZoomed(PlatformWindow* w) override { return w->zoomed; }
    bool isWindowResizable(PlatformWindow* w) override { return w->style.resizable; }
    PlatformWindow* keyWindow() override { return keyWindow_; }
    void makeKeyWindow(PlatformWindow* window) override;
    void addChildWindow(PlatformWindow* parent, PlatformWindow* child) override {
        child->parent = parent;
    }
    void removeChildWindow(PlatformWindow*, PlatformWindow* child) override {
        child->parent = nullptr;
    }
    PlatformWindow* parentWindow(PlatformWindow* w) override { return w->parent; }
    void closeWindow(PlatformWindow* window) override;

    PlatformView* createView(PlatformWindow* window, PlatformViewKind kind, PlatformRect frame,
                             KyGadgetFunctions* functions) override;
    void removeView(PlatformView* view) override;
    PlatformWindow* viewWindow(PlatformView* v) override { return v->window; }
    std::string viewText(PlatformView* v) override { return v->text; }
    void setViewText(PlatformView* v, const std::string& text) override { v->text = text; }
    int64_t viewIntValue(PlatformView* view) override;
    void setViewIntValue(PlatformView* view, int64_t value) override;
    void setViewEnabled(PlatformView* v, bool enabled) override { v->enabled = enabled; }
    bool isViewEnabled(PlatformView* v) override { return v->enabled; }
    void setViewHidden(PlatformView* v, bool hidden) override { v->hidden = hidden; }
    PlatformRect viewFrame(PlatformView* v) override { return v->frame; }
    void setViewFrame(PlatformView* v, PlatformRect frame) override { v->frame = frame; }
    void focusView(PlatformView* v) override { focus(v); }
    void setViewAlignment(PlatformView* v, PlatformTextAlignment a) override { v->alignment = a; }
    void setViewBordered(PlatformView* v, bool bordered) override { v->bordered = bordered; }
    void setViewEditable(PlatformView* v, bool editable) override { v->editable = editable; }
    void setViewTextGreyed(PlatformView* v, bool greyed) override { v->greyed = greyed; }
    void setTextValidator(PlatformView* v, PlatformTextValidator* t) override { v->validator = t; }
    void setButtonRounded(PlatformView* v, bool rounded) override { v->rounded = rounded; }
    bool isButtonRounded(PlatformView* v) override { return v->rounded; }
    void setButtonToggles(PlatformView* v, bool toggles) override { v->toggles = toggles; }
    void setButtonDefault(PlatformView* v, bool isDefault) override { v->isDefault = isDefault; }
    void setSliderRange(PlatformView* view, double minimum, double maximum) override;
    double sliderMinimum(PlatformView* v) override { return v->minimum; }
    double sliderMaximum(PlatformView* v) override { return v->maximum; }
    void setSliderTickMarks(PlatformView* v, int64_t count, bool snap) override {
        v->tickMarks = count;
        v->snapToTicks = snap;
    }

    void buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) override {
        appMenuName = name;
        menuDelegate_ = delegate;
    }
    void setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) override {
        appMenuEnabled[static_cast<int>(item)] = enabled;
    }
    PlatformMenuBar* createMenuBar() override;
    void destroyMenuBar(PlatformMenuBar* bar) override;
    void installMenuBar(PlatformMenuBar* bar, PlatformWindow* window) override;
    PlatformMenuBar* installedMenuBar() override { return installedBar_; }

    int64_t runAlert(const std::string& title, const std::string& text,
                     const std::vector<PlatformAlertButton>& buttons) override;

  private:
    // Applies an edit the way a text field does: asks the validator, then changes the text and
    // reports the change.
    void applyEdit(PlatformView* view, const std::string& proposed);

    std::vector<std::unique_ptr<PlatformWindow>> windows_;
    std::vector<std::unique_ptr<PlatformView>> orphanViews_;  // created outside any window
    std::vector<std::unique_ptr<PlatformMenuBar>> menuBars_;
    PlatformWindow* keyWindow_ = nullptr;
    PlatformMenuBar* installedBar_ = nullptr;
    KyMenuDelegate* menuDelegate_ = nullptr;
    std::deque<int64_t> alertAnswers_;

    // Platform events: user actions, tasks from other threads and wake-ups. Any thread.
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> pending_;
};
