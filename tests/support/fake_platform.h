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
    int64_t intValue = 0;
    bool enabled = true;
    bool hidden = false;
    bool bordered = true;
    bool editable = true;
    bool greyed = false;
    PlatformTextAlignment alignment = PlatformTextAlignment::Natural;
    PlatformTextValidator* validator = nullptr;
    bool rounded = false;
    bool toggles = false;
    bool isDefault = false;
    double minimum = 0;
    double maximum = 1;
    int64_t tickMarks = 0;
    bool snapToTicks = false;
};

struct PlatformWindow {
    PlatformRect content;
    PlatformWindowStyle style;
    std::string title;
    bool visible = false;
    bool zoomed = false;
    bool miniaturized = false;
    KyWindowEvents* delegate = nullptr;
    PlatformWindow* parent = nullptr;
    std::vector<PlatformWindow*> children;
    std::vector<std::unique_ptr<PlatformView>> views;
};

struct PlatformMenuBar {
    bool holdsApplicationMenu = false;
};

// What an alert showed and which button the test pressed.
struct FakeAlert {
    std::string title;
    std::string text;
    std::vector<PlatformAlertButton> buttons;
};

class FakePlatform : public UiPlatform {
  public:
    FakePlatform();
    ~FakePlatform() override;

    // --- the test plays the user (GUI thread) ---------------------------------------------
    // Presses a button (its state flips first) or reports a slider's action.
    void click(PlatformView* view);
    void moveSlider(PlatformView* view, int64_t value);
    // Types text one character at a time; each keystroke goes through the validator.
    void type(PlatformView* view, const std::string& text);
    // Deletes the character at index (0-based) as one edit.
    void deleteCharacter(PlatformView* view, size_t index);
    // Replaces the whole text as one edit (paste over a selection).
    void editText(PlatformView* view, const std::string& text);
    // Focuses view; the previously focused field's editing ends (not by Return).
    void focus(PlatformView* view);
    void pressReturn(PlatformView* view);
    void pressCloseButton(PlatformWindow* window);
    void chooseAppMenuItem(PlatformAppMenuItem item);
    // Queues a user action to be handled by a later handleOneEvent (as a platform event).
    void queueUserAction(std::function<void()> action);
    // Drops every queued action without running it (the program they were meant for ended).
    void discardPendingActions();
    // The answer of the next alert (a button's tag; 0: the OK button).
    void answerNextAlert(int64_t tag) { alertAnswers_.push_back(tag); }

    // --- what the test inspects -----------------------------------------------------------
    std::vector<PlatformWindow*> windows() const;
    size_t menuBarCount() const { return menuBars_.size(); }
    std::vector<FakeAlert> alerts;
    int beeps = 0;
    bool appMenuBuilt = false;
    std::string appMenuName;
    bool appMenuEnabled[3] = {false, false, true};  // About, Preferences, Quit
    PlatformView* focusedView = nullptr;
    std::string executable = "/opt/Navlume.app/Contents/MacOS/Navlume";
    int64_t handledEvents = 0;

    // --- UiPlatform ------------------------------------------------------------------------
    void bringToFront() override { broughtToFront = true; }
    bool broughtToFront = false;
    std::string executablePath() override { return executable; }
    bool handleOneEvent(int32_t timeoutMs) override;
    void wake() override;
    void postToGuiThread(std::function<void()> task) override;
    void beep() override { ++beeps; }

    PlatformRect mainScreenFrame() override { return {0, 0, 1920, 1080}; }
    PlatformRect frameRectForContentRect(PlatformRect content, PlatformWindowStyle style) override;
    PlatformWindow* createWindow(PlatformRect content, PlatformWindowStyle style) override;
    void setWindowDelegate(PlatformWindow* window, KyWindowEvents* delegate) override;
    void setWindowTitle(PlatformWindow* window, const std::string& title) override;
    PlatformRect windowFrame(PlatformWindow* window) override;
    void setWindowFrame(PlatformWindow* window, PlatformRect frame) override;
    void centerWindow(PlatformWindow* window) override;
    void showWindow(PlatformWindow* window, bool activate) override;
    void miniaturizeWindow(PlatformWindow* window) override;
    void zoomWindow(PlatformWindow* window) override;
    bool isWindowVisible(PlatformWindow* window) override { return window->visible; }
    bool isWindowZoomed(PlatformWindow* window) override { return window->zoomed; }
    bool isWindowResizable(PlatformWindow* window) override { return window->style.resizable; }
    PlatformWindow* keyWindow() override { return keyWindow_; }
    void makeKeyWindow(PlatformWindow* window) override;
    void addChildWindow(PlatformWindow* parent, PlatformWindow* child) override;
    void removeChildWindow(PlatformWindow* parent, PlatformWindow* child) override;
    PlatformWindow* parentWindow(PlatformWindow* window) override { return window->parent; }
    void closeWindow(PlatformWindow* window) override;

    PlatformView* createView(PlatformWindow* window, PlatformViewKind kind, PlatformRect frame,
                             KyGadgetFunctions* functions) override;
    void removeView(PlatformView* view) override;
    PlatformWindow* viewWindow(PlatformView* view) override { return view->window; }
    std::string viewText(PlatformView* view) override { return view->text; }
    void setViewText(PlatformView* view, const std::string& text) override { view->text = text; }
    int64_t viewIntValue(PlatformView* view) override;
    void setViewIntValue(PlatformView* view, int64_t value) override;
    void setViewEnabled(PlatformView* view, bool enabled) override { view->enabled = enabled; }
    bool isViewEnabled(PlatformView* view) override { return view->enabled; }
    void setViewHidden(PlatformView* view, bool hidden) override { view->hidden = hidden; }
    PlatformRect viewFrame(PlatformView* view) override { return view->frame; }
    void setViewFrame(PlatformView* view, PlatformRect frame) override { view->frame = frame; }
    void focusView(PlatformView* view) override;
    void setViewAlignment(PlatformView* view, PlatformTextAlignment alignment) override {
        view->alignment = alignment;
    }
    void setViewBordered(PlatformView* view, bool bordered) override { view->bordered = bordered; }
    void setViewEditable(PlatformView* view, bool editable) override { view->editable = editable; }
    void setViewTextGreyed(PlatformView* view, bool greyed) override { view->greyed = greyed; }
    void setTextValidator(PlatformView* view, PlatformTextValidator* validator) override {
        view->validator = validator;
    }
    void setButtonRounded(PlatformView* view, bool rounded) override { view->rounded = rounded; }
    bool isButtonRounded(PlatformView* view) override { return view->rounded; }
    void setButtonToggles(PlatformView* view, bool toggles) override { view->toggles = toggles; }
    void setButtonDefault(PlatformView* view, bool isDefault) override {
        view->isDefault = isDefault;
    }
    void setSliderRange(PlatformView* view, double minimum, double maximum) override;
    double sliderMinimum(PlatformView* view) override { return view->minimum; }
    double sliderMaximum(PlatformView* view) override { return view->maximum; }
    void setSliderTickMarks(PlatformView* view, int64_t count, bool snap) override {
        view->tickMarks = count;
        view->snapToTicks = snap;
    }

    void buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) override;
    void setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) override;
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
    void destroyView(PlatformView* view);

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
