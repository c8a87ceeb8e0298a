#include "ui/platform/qt/qt_view.h"

#include <QPalette>
#include <QWidget>
#include <algorithm>
#include <unordered_set>

namespace {

std::unordered_set<QtView*>& Registry() {
    static std::unordered_set<QtView*> views;
    return views;
}

}  // namespace

QtView::QtView(QWidget* widget, PlatformViewKind kind, KyGadgetFunctions* functions)
    : Widget(widget), Kind(kind), Functions(functions) {
    Registry().insert(this);
}

QtView::~QtView() {
    unregister();
}

QtView* QtView::fromHandle(PlatformView* handle) {
    // Only compared, never dereferenced, unless it names a live view.
    auto* candidate = reinterpret_cast<QtView*>(handle);
    return Registry().count(candidate) != 0 ? candidate : nullptr;
}

std::vector<QtView*> QtView::liveViews() {
    return std::vector<QtView*>(Registry().begin(), Registry().end());
}

void QtView::unregister() {
    Registry().erase(this);
}

void QtView::retire() {
    unregister();
    detachFromGadget();
    KyGadgetFunctions* functions = Functions;
    Functions = nullptr;
    if (functions != nullptr) {
        LayerCall scope;
        functions->viewDestroyed();
    }
}

void QtView::silence() {
    unregister();
    detachFromGadget();
    Functions = nullptr;
}

int64_t QtView::intValue() const {
    return LeadingInteger(text());
}

void QtView::setIntValue(int64_t value) {
    setText(std::to_string(value));
}

void QtView::setFrame(const QRect& frame) {
    Widget->setGeometry(frame);
}

void QtView::setGreyed(bool greyed) {
    Greyed = greyed;
    if (!greyed) {
        // An empty palette resolves nothing: the widget takes its parent's colours again.
        Widget->setPalette(QPalette());
        return;
    }
    QPalette palette = Widget->palette();
    const QPalette::ColorRole role = Widget->foregroundRole();
    const QColor disabled = palette.color(QPalette::Disabled, role);
    palette.setColor(QPalette::Active, role, disabled);
    palette.setColor(QPalette::Inactive, role, disabled);
    Widget->setPalette(palette);
}

int64_t LeadingInteger(const std::string& text) {
    constexpr int64_t kMaximum = 2147483647;
    constexpr int64_t kMinimum = -2147483647 - 1;
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' ||
                                text[at] == '\r' || text[at] == '\f' || text[at] == '\v')) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    // Accumulates the magnitude with a cap just past the range, so it can never overflow.
    int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = std::min<int64_t>(magnitude * 10 + (text[at] - '0'), kMaximum + 1);
    }
    if (negative) return std::max(-magnitude, kMinimum);
    return std::min(magnitude, kMaximum);
}
