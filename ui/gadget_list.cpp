#include "ui/gadget_list.h"

#include <algorithm>
#include <memory>

namespace {

constexpr int32_t kStackStep = 10;

// Every list in creation order, and the current one.
std::vector<std::unique_ptr<KyGadgetList>> lists;
KyGadgetList* current = nullptr;

}  // namespace

KyGadgetList::KyGadgetList(PlatformWindow* window)
    : topWindow_(window), views_(kStackStep, nullptr) {}

void KyGadgetList::push(PlatformView* view) {
    if (stackIndex_ >= stackSize_) {
        stackSize_ += kStackStep;
        views_.resize(static_cast<size_t>(stackSize_), nullptr);
    }
    views_[static_cast<size_t>(stackIndex_++)] = topView_;
    topView_ = view;
}

void KyGadgetList::pop() {
    if (stackIndex_ > 0) {
        --stackIndex_;
        topView_ = views_[static_cast<size_t>(stackIndex_)];
        views_[static_cast<size_t>(stackIndex_)] = nullptr;
    } else {
        stackIndex_ = 0;
        topView_ = nullptr;
    }
}

KyGadgetList* KyGadgetList::currentList() {
    return current;
}

PlatformWindow* KyGadgetList::currentWindow() {
    return current != nullptr ? current->window() : nullptr;
}

KyGadgetList* KyGadgetList::listFromWindow(PlatformWindow* window) {
    for (const auto& list : lists) {
        if (list->window() == window) return list.get();
    }
    return nullptr;
}

PlatformWindow* KyGadgetList::setWindow(PlatformWindow* window) {
    PlatformWindow* previous = currentWindow();
    KyGadgetList* list = listFromWindow(window);
    if (list == nullptr) {
        lists.push_back(std::make_unique<KyGadgetList>(window));
        list = lists.back().get();
    }
    current = list;
    return previous;
}

void KyGadgetList::removeWindow(PlatformWindow* window) {
    auto found = std::find_if(lists.begin(), lists.end(),
                              [window](const auto& list) { return list->window() == window; });
    if (found == lists.end()) return;
    if (found->get() == current) current = nullptr;
    lists.erase(found);
}

void KyGadgetList::removeAll() {
    lists.clear();
    current = nullptr;
}
