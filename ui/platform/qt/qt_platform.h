// QtUiPlatform: the desktop interface layer's platform on Qt 6 Widgets.
//
// Windows are QtWindow (a QMainWindow whose central widget is the content area), views are Qt
// widgets linked to their gadgets (qt_views.h), the application menu is a QMenu shown in the
// window whose menu bar is installed (qt_menus.h), and alerts are QMessageBox. The layer's
// handles resolve only through registries of live objects, so a handle of a closed window or
// removed view does nothing. A window or view that ends is retired at once (its gadgets hear of
// it, it stops reporting and hides) and deleted in a later handleOneEvent, when no call into
// the layer is on the stack.
//
// Create it on the GUI thread. It uses the running QApplication, or creates one when there is
// none; the QApplication must outlive it. Everything but wake and postToGuiThread is GUI thread
// only; those two may be called from any thread while the platform exists.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "ui/platform_interface.h"

class QAbstractEventDispatcher;
class QApplication;
class QMenu;
class QObject;
class QtApplicationMenu;
class QtView;
class QtWindow;
struct QtMenuBar;

class QtUiPlatform final : public UiPlatform {
  public:
    // Takes the user's folders from this process's environment, or as given (tests).
    QtUiPlatform();
    explicit QtUiPlatform(PlatformHomeFolders homeFolders);
    ~QtUiPlatform() override;
    QtUiPlatform(const QtUiPlatform&) = delete;
    QtUiPlatform& operator=(const QtUiPlatform&) = delete;

    // The Qt widgets behind handles, for tests and diagnostics (null when not live).
    static QWidget* windowWidget(PlatformWindow* window);
    static QWidget* viewWidget(PlatformView* view);
    // The application menu (null until built).
    QMenu* applicationMenu() const;

    // --- application ------------------------------------------------------------------------
    void bringToFront() override;
    std::string executablePath() override;
    PlatformHomeFolders homeFolders() override { return homeFolders_; }
    bool handleOneEvent(int32_t timeoutMs) override;
    void wake() override;
    void postToGuiThread(std::function<void()> task) override;
    void runOnGuiThreadAfter(int32_t delayMs, std::function<void()> task) override;
    void beep() override;

    // --- windows ------------------------------------------------------------------------------
    PlatformRect mainScreenFrame() override;
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
    bool isWindowVisible(PlatformWindow* window) override;
    bool isWindowZoomed(PlatformWindow* window) override;
    bool isWindowResizable(PlatformWindow* window) override;
    PlatformWindow* keyWindow() override;
    void makeKeyWindow(PlatformWindow* window) override;
    void addChildWindow(PlatformWindow* parent, PlatformWindow* child) override;
    void removeChildWindow(PlatformWindow* parent, PlatformWindow* child) override;
    PlatformWindow* parentWindow(PlatformWindow* window) override;
    void closeWindow(PlatformWindow* window) override;

    // --- views --------------------------------------------------------------------------------
    PlatformView* createView(PlatformWindow* window, PlatformViewKind kind, PlatformRect frame,
                             KyGadgetFunctions* functions) override;
    void removeView(PlatformView* view) override;
    PlatformWindow* viewWindow(PlatformView* view) override;
    std::string viewText(PlatformView* view) override;
    void setViewText(PlatformView* view, const std::string& text) override;
    int64_t viewIntValue(PlatformView* view) override;
    void setViewIntValue(PlatformView* view, int64_t value) override;
    void setViewEnabled(PlatformView* view, bool enabled) override;
    bool isViewEnabled(PlatformView* view) override;
    void setViewHidden(PlatformView* view, bool hidden) override;
    PlatformRect viewFrame(PlatformView* view) override;
    void setViewFrame(PlatformView* view, PlatformRect frame) override;
    void focusView(PlatformView* view) override;
    void setViewAlignment(PlatformView* view, PlatformTextAlignment alignment) override;
    void setViewBordered(PlatformView* view, bool bordered) override;
    void setViewEditable(PlatformView* view, bool editable) override;
    void setViewTextGreyed(PlatformView* view, bool greyed) override;
    void setTextValidator(PlatformView* view, PlatformTextValidator* validator) override;
    void setButtonRounded(PlatformView* view, bool rounded) override;
    bool isButtonRounded(PlatformView* view) override;
    void setButtonToggles(PlatformView* view, bool toggles) override;
    void setButtonDefault(PlatformView* view, bool isDefault) override;
    void setSliderRange(PlatformView* view, double minimum, double maximum) override;
    double sliderMinimum(PlatformView* view) override;
    double sliderMaximum(PlatformView* view) override;
    void setSliderTickMarks(PlatformView* view, int64_t count, bool snap) override;

    // --- menus --------------------------------------------------------------------------------
    void buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) override;
    void setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) override;
    PlatformMenuBar* createMenuBar() override;
    void destroyMenuBar(PlatformMenuBar* bar) override;
    void installMenuBar(PlatformMenuBar* bar, PlatformWindow* window) override;
    PlatformMenuBar* installedMenuBar() override;

    // --- requester ----------------------------------------------------------------------------
    int64_t runAlert(const std::string& title, const std::string& text,
                     const std::vector<PlatformAlertButton>& buttons) override;

  private:
    // Hides a widget whose window or view has ended and deletes it later.
    void retireWidget(QWidget* widget);
    void deleteRetiredWidgets();
    // Shows the application menu in the installed bar's window, and nowhere else.
    void showApplicationMenu();
    QtMenuBar* liveMenuBar(PlatformMenuBar* bar) const;
    void closeWindowNow(QtWindow* window);
    std::vector<QtView*> viewsOf(const QtWindow* window) const;

    // Declared first, destroyed last: a QApplication the platform made itself.
    int argumentCount_ = 1;
    char programName_[8] = "navlume";
    char* arguments_[2] = {programName_, nullptr};
    std::unique_ptr<QApplication> ownApplication_;

    // Receives the tasks of postToGuiThread and runOnGuiThreadAfter; lives on the GUI thread.
    std::unique_ptr<QObject> taskReceiver_;
    QAbstractEventDispatcher* dispatcher_ = nullptr;
    bool hasWidgets_ = false;
    PlatformHomeFolders homeFolders_;
    // Parent of views created outside any window; never shown.
    std::unique_ptr<QWidget> orphanParent_;
    std::vector<QPointer<QWidget>> retired_;

    std::unique_ptr<QtApplicationMenu> appMenu_;
    std::string applicationName_;
    std::vector<std::unique_ptr<QtMenuBar>> menuBars_;
    QtMenuBar* installedBar_ = nullptr;
    QPointer<QWidget> installedWindow_;
};
