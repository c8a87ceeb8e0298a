// The application part of QtUiPlatform: set-up, the event wait, tasks from other threads,
// alerts. Windows and views are in qt_platform_*.cpp, menus in qt_menus.cpp.
#include "ui/platform/qt/qt_platform.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#if NAVLUME_HAVE_NSGETEXECUTABLEPATH
#include <mach-o/dyld.h>
#endif

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "ui/application.h"
#include "ui/platform/qt/qt_convert.h"
#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform/qt/qt_menus.h"
#include "ui/platform/qt/qt_views.h"
#include "ui/platform/qt/qt_window.h"

QtUiPlatform::QtUiPlatform() : QtUiPlatform(HomeFoldersOfProcess()) {}

QtUiPlatform::QtUiPlatform(PlatformHomeFolders homeFolders) : homeFolders_(std::move(homeFolders)) {
    if (QCoreApplication::instance() == nullptr) {
        ownApplication_ = std::make_unique<QApplication>(argumentCount_, arguments_);
    }
    taskReceiver_ = std::make_unique<QObject>();
    dispatcher_ = QAbstractEventDispatcher::instance(taskReceiver_->thread());
    // Widgets need a QApplication; under a bare QCoreApplication every window is refused.
    hasWidgets_ = qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
    if (hasWidgets_) {
        orphanParent_ = std::make_unique<QWidget>();
        // The layer decides when the program ends, never the last window.
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }
}

QtUiPlatform::~QtUiPlatform() {
    // The layer may already have ended: views and windows go without telling it.
    for (QtView* view : QtView::liveViews())
        view->silence();
    for (QtWindow* window : QtWindow::liveWindows()) {
        window->retire();
        retired_.emplace_back(window);
    }
    deleteRetiredWidgets();
    orphanParent_.reset();
    appMenu_.reset();
    menuBars_.clear();
    taskReceiver_.reset();
}

QWidget* QtUiPlatform::windowWidget(PlatformWindow* window) {
    return QtWindow::fromHandle(window);
}

QWidget* QtUiPlatform::viewWidget(PlatformView* view) {
    QtView* live = QtView::fromHandle(view);
    return live != nullptr ? live->widget() : nullptr;
}

QMenu* QtUiPlatform::applicationMenu() const {
    return appMenu_ ? appMenu_->menu() : nullptr;
}

// --- application ---------------------------------------------------------------------------

void QtUiPlatform::bringToFront() {
    QtWindow* window = QtWindow::lastActivated();
    if (window == nullptr || !window->isVisible()) {
        window = nullptr;
        for (QtWindow* candidate : QtWindow::liveWindows()) {
            if (candidate->isVisible()) {
                window = candidate;
                break;
            }
        }
    }
    if (window == nullptr) return;
    window->raise();
    window->activateWindow();
}

std::string QtUiPlatform::executablePath() {
    if (QCoreApplication::instance() != nullptr) {
        const std::string path = ToStdString(QCoreApplication::applicationFilePath());
        if (!path.empty()) return path;
    }
    // Without a QApplication: the system's own record of the executable, where it keeps one.
#if NAVLUME_HAVE_PROC_SELF_EXE
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return {};
    return std::string(buffer, static_cast<size_t>(length));
#elif NAVLUME_HAVE_NSGETEXECUTABLEPATH
    char buffer[4096];
    uint32_t size = sizeof(buffer);
    if (_NSGetExecutablePath(buffer, &size) != 0) return {};
    return std::string(buffer);
#else
    return {};
#endif
}

bool QtUiPlatform::handleOneEvent(int32_t timeoutMs) {
    // Only here, outside every call into the layer, may ended widgets really go.
    if (!LayerCall::active()) {
        deleteRetiredWidgets();
        // Without a running exec(), Qt leaves deleteLater() requests made outside any event
        // handler waiting; they would keep the dispatcher from ever blocking.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (dispatcher == nullptr) return false;
    if (timeoutMs == 0) return dispatcher->processEvents(QEventLoop::AllEvents);

    bool timedOut = false;
    QTimer deadline;
    if (timeoutMs > 0) {
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, [&timedOut] { timedOut = true; });
        deadline.start(timeoutMs);
    }
    // Blocks in the dispatcher (no processor time) until something arrives, then handles what
    // arrived together.
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return !timedOut;
}

void QtUiPlatform::wake() {
    if (dispatcher_ != nullptr) dispatcher_->wakeUp();
}

namespace {

// A task of the layer, run by the event loop: its failure stays with the task, and the event
// loop goes on.
void RunLayerTask(const std::function<void()>& task) {
    LayerCall scope;
    try {
        task();
    } catch (...) {
    }
}

}  // namespace

void QtUiPlatform::postToGuiThread(std::function<void()> task) {
    if (!task) {
        wake();
        return;
    }
    // A queued call on an object of the GUI thread: posting wakes the dispatcher, and the task
    // runs inside a later handleOneEvent.
    QMetaObject::invokeMethod(
        taskReceiver_.get(), [task = std::move(task)] { RunLayerTask(task); },
        Qt::QueuedConnection);
}

void QtUiPlatform::runOnGuiThreadAfter(int32_t delayMs, std::function<void()> task) {
    if (!task) return;
    // A coarse timer may fire a few milliseconds late, which saves wake-ups; none of the
    // layer's delays needs more precision. It goes with the receiver.
    QTimer::singleShot(std::max(delayMs, 0), Qt::CoarseTimer, taskReceiver_.get(),
                       [task = std::move(task)] { RunLayerTask(task); });
}

void QtUiPlatform::beep() {
    QApplication::beep();
}

namespace {

// Runs the alert application-modal and returns the tag of the pressed button; with no buttons
// it shows one OK button and returns 0. 0 as well when the alert ends without a button.
int64_t RunQtAlert(const QString& windowTitle, const std::string& title, const std::string& text,
                   const std::vector<PlatformAlertButton>& buttons) {
    QMessageBox box;
    box.setWindowTitle(windowTitle);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowModality(Qt::ApplicationModal);
    // The texts are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQString(title));
    box.setInformativeText(ToQString(text));
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
    }

    std::vector<std::pair<QAbstractButton*, int64_t>> tags;
    if (buttons.empty()) {
        tags.emplace_back(box.addButton(QMessageBox::Ok), 0);
    } else {
        for (size_t index = 0; index < buttons.size(); ++index) {
            const QString label = ToQString(buttons[index].title);
            // The first button is the default one (Return); a Cancel button answers Escape.
            QMessageBox::ButtonRole role = QMessageBox::ActionRole;
            if (index == 0) {
                role = QMessageBox::AcceptRole;
            } else if (label == QStringLiteral("Cancel")) {
                role = QMessageBox::RejectRole;
            }
            QPushButton* button = box.addButton(label, role);
            if (index == 0) box.setDefaultButton(button);
            tags.emplace_back(button, buttons[index].tag);
        }
    }

    box.exec();
    const QAbstractButton* pressed = box.clickedButton();
    for (const auto& [button, tag] : tags) {
        if (button == pressed) return tag;
    }
    return 0;
}

}  // namespace

// --- requester -----------------------------------------------------------------------------

int64_t QtUiPlatform::runAlert(const std::string& title, const std::string& text,
                               const std::vector<PlatformAlertButton>& buttons) {
    if (!hasWidgets_) return 0;
    return RunQtAlert(ToQString(applicationName_), title, text, buttons);
}

// --- retired widgets -----------------------------------------------------------------------

void QtUiPlatform::retireWidget(QWidget* widget) {
    if (widget->hasFocus()) widget->clearFocus();
    widget->hide();
    retired_.emplace_back(widget);
}

void QtUiPlatform::deleteRetiredWidgets() {
    std::vector<QPointer<QWidget>> retired;
    retired.swap(retired_);
    // A view's pointer is already cleared when its window went first.
    for (QPointer<QWidget>& widget : retired)
        delete widget.data();
}
