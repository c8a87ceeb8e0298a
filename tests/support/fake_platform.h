// An in-memory window system for the layer's tests: plain records, and the test plays the user.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ui/gadget_functions.h"
#include "ui/menus.h"
#include "ui/windows.h"

struct PlatformView {
    PlatformViewKind kind = PlatformViewKind::Label;
    PlatformWindow* window = nullptr;
    KyGadgetFunctions* functions = nullptr;
    PlatformRect frame;
    std::string text;
    int64_t intValue = 0, tickMarks = 0;
    bool enabled = true, hidden = false, bordered = true, editable = true, greyed = false;
    bool rounded = false, toggles = false, isDefault = false;
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

struct PlatformMenuBar {};

template <typename T>
void EraseOwned(std::vector<std::unique_ptr<T>>& owned, const T* item) {
    std::erase_if(owned, [item](const auto& candidate) { return candidate.get() == item; });
}

struct FakeAlert {  // what an alert showed
    std::string title, text;
    std::vector<PlatformAlertButton> buttons;
};

class FakePlatform : public UiPlatform {
  public:
    // The test plays the user (GUI thread). A press flips a button's state first.
    void click(PlatformView* view) {
        if (!view->enabled) return;
        if (view->kind == PlatformViewKind::Button) view->intValue = view->intValue == 0 ? 1 : 0;
        if (view->functions != nullptr) view->functions->EventHandler(view);
    }
    void moveSlider(PlatformView* view, int64_t value) {
        setViewIntValue(view, value);
        if (view->enabled && view->functions != nullptr) view->functions->EventHandler(view);
    }
    // Types one character at a time; each keystroke, and each edit, goes through the validator.
    void type(PlatformView* view, const std::string& text) {
        for (char c : text)
            applyEdit(view, view->text + c);
    }
    void editText(PlatformView* view, const std::string& text) { applyEdit(view, text); }
    void focus(PlatformView* view) {
        if (focusedView == view) return;
        PlatformView* previous = std::exchange(focusedView, view);
        if (previous != nullptr && previous->functions != nullptr)
            previous->functions->textDidEndEditing(false);
        if (view != nullptr && view->functions != nullptr) view->functions->becomeFirstResponder();
    }
    void pressReturn(PlatformView* view) { view->functions->textDidEndEditing(true); }
    void pressCloseButton(PlatformWindow* window) {
        if (!window->style.closable) return;
        if (window->delegate != nullptr && window->delegate->windowShouldClose())
            closeWindow(window);
    }
    void chooseAppMenuItem(PlatformAppMenuItem item) {
        if (!appMenuEnabled[static_cast<int>(item)] || menuDelegate_ == nullptr) return;
        if (item == PlatformAppMenuItem::About) menuDelegate_->about();
        if (item == PlatformAppMenuItem::Preferences) menuDelegate_->preferences();
        if (item == PlatformAppMenuItem::Quit) menuDelegate_->terminate();
    }
    // A user action for a later handleOneEvent; discarding drops the queued ones unrun.
    void queueUserAction(std::function<void()> action) { postToGuiThread(std::move(action)); }
    void discardPendingActions() {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.clear();
    }
    void answerNextAlert(int64_t tag) { alertAnswers_.push_back(tag); }
    // Delayed tasks run like posted ones (no clock to wait for) unless held for runDelayedTasks.
    bool holdDelayedTasks = false;
    size_t runDelayedTasks() {
        const std::vector<std::function<void()>> due = std::exchange(delayed_, {});
        for (const auto& task : due)
            task();
        return due.size();
    }

    size_t menuBarCount() const { return menuBars_.size(); }
    std::vector<FakeAlert> alerts;
    int beeps = 0;
    std::string appMenuName;                        // empty until the application menu is built
    bool appMenuEnabled[3] = {false, false, true};  // About, Preferences, Quit
    PlatformView* focusedView = nullptr;
    std::string executable = "/opt/Navlume.app/Contents/MacOS/Navlume";
    PlatformHomeFolders home;
    int64_t handledEvents = 0;
    std::vector<int32_t> delays;  // of every runOnGuiThreadAfter

    void bringToFront() override {}
    std::string executablePath() override { return executable; }
    // No HOME unless a test gives one: the program stays in the bundle or where the test is.
    PlatformHomeFolders homeFolders() override { return home; }
    bool handleOneEvent(int32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto ready = [this] { return !pending_.empty(); };
        if (timeoutMs < 0)
            arrived_.wait(lock, ready);
        else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return false;
        std::function<void()> task = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        ++handledEvents;
        if (task) task();
        return true;
    }
    void wake() override { postToGuiThread(nullptr); }
    void postToGuiThread(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(task));
        arrived_.notify_one();
    }
    void runOnGuiThreadAfter(int32_t delayMs, std::function<void()> task) override {
        delays.push_back(delayMs);
        if (holdDelayedTasks)
            delayed_.push_back(std::move(task));
        else
            postToGuiThread(std::move(task));
    }
    void beep() override { ++beeps; }

    PlatformRect mainScreenFrame() override { return {0, 0, 1920, 1080}; }
    PlatformRect frameRectForContentRect(PlatformRect content, PlatformWindowStyle style) override {
        const double bar = style.titled ? 28 : 0;  // a titled window's decorations
        return {content.x, content.y - bar, content.width, content.height + bar};
    }
    PlatformWindow* createWindow(PlatformRect content, PlatformWindowStyle style) override {
        PlatformWindow* window = windows_.emplace_back(std::make_unique<PlatformWindow>()).get();
        window->content = content;
        window->style = style;
        return window;
    }
    void setWindowDelegate(PlatformWindow* w, KyWindowEvents* d) override { w->delegate = d; }
    void setWindowTitle(PlatformWindow* w, const std::string& title) override { w->title = title; }
    PlatformRect windowFrame(PlatformWindow* w) override {
        return frameRectForContentRect(w->content, w->style);
    }
    void setWindowFrame(PlatformWindow* window, PlatformRect frame) override {
        const PlatformRect old = windowFrame(window);
        const double decoration = old.height - window->content.height;
        window->content = {frame.x, frame.y + decoration, frame.width, frame.height - decoration};
        if (window->delegate == nullptr) return;
        if (frame.x != old.x || frame.y != old.y) window->delegate->windowDidMove();
        if (frame.width != old.width || frame.height != old.height)
            window->delegate->windowDidResize();
    }
    void centerWindow(PlatformWindow* window) override {
        const PlatformRect frame = windowFrame(window);
        window->content.x = (mainScreenFrame().width - frame.width) / 2;
        window->content.y =
            (mainScreenFrame().height - frame.height) / 2 + frame.height - window->content.height;
    }
    void showWindow(PlatformWindow* window, bool activate) override {
        window->visible = true;
        if (activate) makeKeyWindow(window);
    }
    void miniaturizeWindow(PlatformWindow* window) override {
        window->miniaturized = true;
        if (keyWindow_ == window) keyWindow_ = nullptr;
        if (window->delegate != nullptr) window->delegate->windowDidMiniaturize();
    }
    void zoomWindow(PlatformWindow* window) override {
        const PlatformRect target =
            window->zoomed ? PlatformRect{100, 100, 300, 200} : mainScreenFrame();
        if (window->delegate != nullptr && !window->delegate->windowShouldZoom(target)) return;
        window->zoomed = !window->zoomed;
        setWindowFrame(window, target);
    }
    bool isWindowVisible(PlatformWindow* w) override { return w->visible; }
    bool isWindowZoomed(PlatformWindow* w) override { return w->zoomed; }
    bool isWindowResizable(PlatformWindow* w) override { return w->style.resizable; }
    PlatformWindow* keyWindow() override { return keyWindow_; }
    void makeKeyWindow(PlatformWindow* window) override {
        if (keyWindow_ == window) return;
        PlatformWindow* previous = std::exchange(keyWindow_, window);
        if (previous != nullptr && previous->delegate != nullptr)
            previous->delegate->windowDidResignKey();
        if (window != nullptr && window->delegate != nullptr)
            window->delegate->windowDidBecomeKey();
    }
    void addChildWindow(PlatformWindow* p, PlatformWindow* c) override { c->parent = p; }
    void removeChildWindow(PlatformWindow*, PlatformWindow* c) override { c->parent = nullptr; }
    PlatformWindow* parentWindow(PlatformWindow* w) override { return w->parent; }
    void closeWindow(PlatformWindow* window) override {
        if (std::ranges::count(windows_, window, &std::unique_ptr<PlatformWindow>::get) == 0)
            return;
        if (window->delegate != nullptr) window->delegate->windowWillClose();
        while (!window->views.empty())
            removeView(window->views.back().get());
        if (keyWindow_ == window) keyWindow_ = nullptr;
        for (auto& other : windows_)
            if (other->parent == window) other->parent = nullptr;
        EraseOwned(windows_, window);
    }

    PlatformView* createView(PlatformWindow* window, PlatformViewKind kind, PlatformRect frame,
                             KyGadgetFunctions* functions) override {
        auto& owner = window != nullptr ? window->views : orphanViews_;
        PlatformView* view = owner.emplace_back(std::make_unique<PlatformView>()).get();
        view->kind = kind;
        view->window = window;
        view->functions = functions;
        view->frame = frame;
        return view;
    }
    void removeView(PlatformView* view) override {
        if (focusedView == view) focusedView = nullptr;
        KyGadgetFunctions* functions = view->functions;
        view->functions = nullptr;
        if (functions != nullptr) functions->viewDestroyed();
        EraseOwned(view->window != nullptr ? view->window->views : orphanViews_, view);
    }
    PlatformWindow* viewWindow(PlatformView* v) override { return v->window; }
    std::string viewText(PlatformView* v) override { return v->text; }
    void setViewText(PlatformView* v, const std::string& text) override { v->text = text; }
    static bool ShowsValue(PlatformView* view) {  // rather than a text
        return view->kind == PlatformViewKind::Button || view->kind == PlatformViewKind::Slider;
    }
    int64_t viewIntValue(PlatformView* v) override {
        return ShowsValue(v) ? v->intValue : std::atoi(v->text.c_str());
    }
    void setViewIntValue(PlatformView* view, int64_t value) override {
        if (view->kind == PlatformViewKind::Slider)
            value = int64_t(std::clamp(double(value), view->minimum, view->maximum));
        if (ShowsValue(view))
            view->intValue = value;
        else
            view->text = std::to_string(value);
    }
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
    void setSliderRange(PlatformView* view, double minimum, double maximum) override {
        view->minimum = minimum;
        view->maximum = maximum;
        setViewIntValue(view, view->intValue);
    }
    double sliderMinimum(PlatformView* v) override { return v->minimum; }
    double sliderMaximum(PlatformView* v) override { return v->maximum; }
    void setSliderTickMarks(PlatformView* v, int64_t count, bool) override { v->tickMarks = count; }

    void buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) override {
        appMenuName = name;
        menuDelegate_ = delegate;
    }
    void setAppMenuItemEnabled(PlatformAppMenuItem i, bool on) override {
        appMenuEnabled[static_cast<int>(i)] = on;
    }
    PlatformMenuBar* createMenuBar() override {
        return menuBars_.emplace_back(std::make_unique<PlatformMenuBar>()).get();
    }
    void destroyMenuBar(PlatformMenuBar* bar) override {
        if (installedBar_ == bar) installedBar_ = nullptr;
        EraseOwned(menuBars_, bar);
    }
    void installMenuBar(PlatformMenuBar* bar, PlatformWindow*) override { installedBar_ = bar; }
    PlatformMenuBar* installedMenuBar() override { return installedBar_; }

    int64_t runAlert(const std::string& title, const std::string& text,
                     const std::vector<PlatformAlertButton>& buttons) override {
        alerts.push_back({title, text, buttons});
        makeKeyWindow(nullptr);  // the alert has the keyboard while it runs
        if (alertAnswers_.empty()) return buttons.empty() ? 0 : buttons.front().tag;
        const int64_t answer = alertAnswers_.front();
        alertAnswers_.pop_front();
        return answer;
    }

  private:
    // As a text field does: asks the validator, then changes the text and reports the change.
    void applyEdit(PlatformView* view, const std::string& proposed) {
        if (!view->enabled || !view->editable) return;
        focus(view);
        std::string result = proposed;
        if (view->validator != nullptr) {
            bool replaced = true;  // as left by anything before: the validator must say
            const bool valid = view->validator->isPartialStringValid(proposed, &result, &replaced);
            if (!replaced && !valid) return;
            if (!replaced) result = proposed;
        }
        if (result == view->text) return;
        view->text = result;
        if (view->functions != nullptr) view->functions->controlTextDidChange();
    }

    std::vector<std::unique_ptr<PlatformWindow>> windows_;
    std::vector<std::unique_ptr<PlatformView>> orphanViews_;  // outside any window; never end
    std::vector<std::unique_ptr<PlatformMenuBar>> menuBars_;
    PlatformWindow* keyWindow_ = nullptr;
    PlatformMenuBar* installedBar_ = nullptr;
    KyMenuDelegate* menuDelegate_ = nullptr;
    std::deque<int64_t> alertAnswers_;

    // User actions, tasks from other threads and wake-ups. Any thread.
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> pending_;
    std::vector<std::function<void()>> delayed_;  // GUI thread only
};
