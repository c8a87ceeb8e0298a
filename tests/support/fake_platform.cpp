#include "tests/support/fake_platform.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "ui/gadget_functions.h"
#include "ui/menus.h"
#include "ui/windows.h"

namespace {

// Decorations of a titled window: a 28-point title bar.
constexpr double kTitleBarHeight = 28;

template <typename T>
void EraseOwned(std::vector<std::unique_ptr<T>>& owned, const T* item) {
    std::erase_if(owned, [item](const auto& candidate) { return candidate.get() == item; });
}

bool IsField(const PlatformView* view) {
    return view->kind == PlatformViewKind::TextField || view->kind == PlatformViewKind::SecureField;
}

}  // namespace

FakePlatform::~FakePlatform() {
    // Views report their destruction to gadgets that may already be gone; drop the links.
    for (auto& window : windows_) {
        for (auto& view : window->views)
            view->functions = nullptr;
    }
    for (auto& view : orphanViews_)
        view->functions = nullptr;
}

std::vector<PlatformWindow*> FakePlatform::windows() const {
    std::vector<PlatformWindow*> result;
    for (const auto& window : windows_)
        result.push_back(window.get());
    return result;
}

// --- the user ----------------------------------------------------------------------------

void FakePlatform::click(PlatformView* view) {
    if (!view->enabled) return;
    if (view->kind == PlatformViewKind::Button) view->intValue = view->intValue == 0 ? 1 : 0;
    if (view->functions != nullptr) view->functions->EventHandler(view);
}

void FakePlatform::moveSlider(PlatformView* view, int64_t value) {
    setViewIntValue(view, value);
    if (view->enabled && view->functions != nullptr) view->functions->EventHandler(view);
}

void FakePlatform::type(PlatformView* view, const std::string& text) {
    for (char c : text)
        applyEdit(view, view->text + c);
}

void FakePlatform::editText(PlatformView* view, const std::string& text) {
    applyEdit(view, text);
}

void FakePlatform::applyEdit(PlatformView* view, const std::string& proposed) {
    if (!view->enabled || !view->editable) return;
    focus(view);
    std::string result = proposed;
    if (view->validator != nullptr) {
        bool replaced = false;
        const bool accepted = view->validator->isPartialStringValid(proposed, &result, &replaced);
        if (!replaced && !accepted) return;
        if (!replaced) result = proposed;
    }
    if (result == view->text) return;
    view->text = result;
    if (view->functions != nullptr) view->functions->controlTextDidChange();
}

void FakePlatform::focus(PlatformView* view) {
    if (focusedView == view) return;
    PlatformView* previous = focusedView;
    focusedView = view;
    if (previous != nullptr && previous->functions != nullptr) {
        previous->functions->textDidEndEditing(false);
    }
    if (view != nullptr && view->functions != nullptr) view->functions->becomeFirstResponder();
}

void FakePlatform::pressReturn(PlatformView* view) {
    if (IsField(view) && view->functions != nullptr) view->functions->textDidEndEditing(true);
}

void FakePlatform::pressCloseButton(PlatformWindow* window) {
    if (!window->style.closable) return;
    if (window->delegate != nullptr && window->delegate->windowShouldClose()) closeWindow(window);
}

void FakePlatform::chooseAppMenuItem(PlatformAppMenuItem item) {
    if (!appMenuEnabled[static_cast<int>(item)] || menuDelegate_ == nullptr) return;
    if (item == PlatformAppMenuItem::About) menuDelegate_->about();
    if (item == PlatformAppMenuItem::Preferences) menuDelegate_->preferences();
    if (item == PlatformAppMenuItem::Quit) menuDelegate_->terminate();
}

void FakePlatform::discardPendingActions() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
}

// --- events --------------------------------------------------------------------------------

bool FakePlatform::handleOneEvent(int32_t timeoutMs) {
    std::function<void()> task;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto ready = [this] { return !pending_.empty(); };
        if (timeoutMs < 0) {
            arrived_.wait(lock, ready);
        } else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
            return false;
        }
        task = std::move(pending_.front());
        pending_.pop_front();
    }
    ++handledEvents;
    if (task) task();
    return true;
}

void FakePlatform::postToGuiThread(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(std::move(task));
    }
    arrived_.notify_one();
}

// --- windows -------------------------------------------------------------------------------

PlatformRect FakePlatform::frameRectForContentRect(PlatformRect content,
                                                   PlatformWindowStyle style) {
    if (style.titled) {
        content.y -= kTitleBarHeight;
        content.height += kTitleBarHeight;
    }
    return content;
}

PlatformWindow* FakePlatform::createWindow(PlatformRect content, PlatformWindowStyle style) {
    windows_.push_back(std::make_unique<PlatformWindow>());
    windows_.back()->content = content;
    windows_.back()->style = style;
    return windows_.back().get();
}

void FakePlatform::setWindowFrame(PlatformWindow* window, PlatformRect frame) {
    const PlatformRect old = windowFrame(window);
    const double decoration = old.height - window->content.height;
    window->content = {frame.x, frame.y + decoration, frame.width, frame.height - decoration};
    if (window->delegate == nullptr) return;
    if (frame.x != old.x || frame.y != old.y) window->delegate->windowDidMove();
    if (frame.width != old.width || frame.height != old.height) window->delegate->windowDidResize();
}

void FakePlatform::centerWindow(PlatformWindow* window) {
    const PlatformRect frame = windowFrame(window);
    window->content.x = (mainScreenFrame().width - frame.width) / 2;
    window->content.y =
        (mainScreenFrame().height - frame.height) / 2 + frame.height - window->content.height;
}

void FakePlatform::showWindow(PlatformWindow* window, bool activate) {
    window->visible = true;
    if (activate) makeKeyWindow(window);
}

void FakePlatform::miniaturizeWindow(PlatformWindow* window) {
    window->miniaturized = true;
    if (keyWindow_ == window) keyWindow_ = nullptr;
    if (window->delegate != nullptr) window->delegate->windowDidMiniaturize();
}

void FakePlatform::zoomWindow(PlatformWindow* window) {
    const PlatformRect target =
        window->zoomed ? PlatformRect{100, 100, 300, 200} : mainScreenFrame();
    if (window->delegate != nullptr && !window->delegate->windowShouldZoom(target)) return;
    window->zoomed = !window->zoomed;
    setWindowFrame(window, target);
}

void FakePlatform::makeKeyWindow(PlatformWindow* window) {
    if (keyWindow_ == window) return;
    PlatformWindow* previous = keyWindow_;
    keyWindow_ = window;
    if (previous != nullptr && previous->delegate != nullptr) {
        previous->delegate->windowDidResignKey();
    }
    if (window != nullptr && window->delegate != nullptr) window->delegate->windowDidBecomeKey();
}

void FakePlatform::closeWindow(PlatformWindow* window) {
    if (std::ranges::count(windows(), window) == 0) return;
    if (window->delegate != nullptr) window->delegate->windowWillClose();
    while (!window->views.empty())
        removeView(window->views.back().get());
    if (keyWindow_ == window) keyWindow_ = nullptr;
    for (auto& other : windows_) {
        if (other->parent == window) other->parent = nullptr;
    }
    EraseOwned(windows_, window);
}

// --- views ---------------------------------------------------------------------------------

PlatformView* FakePlatform::createView(PlatformWindow* window, PlatformViewKind kind,
                                       PlatformRect frame, KyGadgetFunctions* functions) {
    auto& owner = window != nullptr ? window->views : orphanViews_;
    owner.push_back(std::make_unique<PlatformView>());
    PlatformView* view = owner.back().get();
    view->kind = kind;
    view->window = window;
    view->functions = functions;
    view->frame = frame;
    return view;
}

void FakePlatform::removeView(PlatformView* view) {
    if (focusedView == view) focusedView = nullptr;
    KyGadgetFunctions* functions = view->functions;
    view->functions = nullptr;
    if (functions != nullptr) functions->viewDestroyed();
    EraseOwned(view->window != nullptr ? view->window->views : orphanViews_, view);
}

int64_t FakePlatform::viewIntValue(PlatformView* view) {
    if (IsField(view) || view->kind == PlatformViewKind::Label) {
        return std::atoi(view->text.c_str());
    }
    return view->intValue;
}

void FakePlatform::setViewIntValue(PlatformView* view, int64_t value) {
    if (view->kind == PlatformViewKind::Slider) {
        const double clamped = std::clamp(static_cast<double>(value), view->minimum, view->maximum);
        view->intValue = static_cast<int64_t>(clamped);
    } else if (view->kind == PlatformViewKind::Button) {
        view->intValue = value;
    } else {
        view->text = std::to_string(value);
    }
}

void FakePlatform::setSliderRange(PlatformView* view, double minimum, double maximum) {
    view->minimum = minimum;
    view->maximum = maximum;
    setViewIntValue(view, view->intValue);
}

// --- menus and alerts ----------------------------------------------------------------------

PlatformMenuBar* FakePlatform::createMenuBar() {
    menuBars_.push_back(std::make_unique<PlatformMenuBar>());
    return menuBars_.back().get();
}

void FakePlatform::destroyMenuBar(PlatformMenuBar* bar) {
    if (installedBar_ == bar) installedBar_ = nullptr;
    EraseOwned(menuBars_, bar);
}

void FakePlatform::installMenuBar(PlatformMenuBar* bar, PlatformWindow*) {
    // The application menu lives in exactly one bar: the installed one.
    for (auto& other : menuBars_)
        other->holdsApplicationMenu = other.get() == bar;
    installedBar_ = bar;
}

int64_t FakePlatform::runAlert(const std::string& title, const std::string& text,
                               const std::vector<PlatformAlertButton>& buttons) {
    alerts.push_back({title, text, buttons});
    if (alertAnswers_.empty()) return buttons.empty() ? 0 : buttons.front().tag;
    const int64_t answer = alertAnswers_.front();
    alertAnswers_.pop_front();
    return answer;
}
