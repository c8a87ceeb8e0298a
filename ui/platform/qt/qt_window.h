// QtWindow: a top-level window of the binding. Its central widget is the content area, in
// which views sit at exact positions (y downwards); the window's QMenuBar appears above it
// while the application menu is installed here, and the window then grows so that the content
// keeps its size. The window reports its notifications to its KyWindowEvents delegate. The
// handle the layer holds (PlatformWindow*) is the window's address, resolved only through the
// registry of live windows.
#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <functional>
#include <vector>

#include "ui/platform/qt/qt_layer_call.h"
#include "ui/platform_interface.h"
#include "ui/windows.h"

class QMenu;
class QMenuBar;
class QPushButton;
class QtWindow;

// Reports clicks: left (1 single, 2 the second click of a double click) and right.
class QtContentArea final : public QWidget {
  public:
    explicit QtContentArea(QtWindow* owner);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QtWindow* owner_;
    int clickCount_ = 1;
};

class QtWindow final : public QMainWindow {
  public:
    // Called when the user's close request was granted: the binding closes the window.
    using CloseHandler = std::function<void(QtWindow*)>;

    QtWindow(const PlatformWindowStyle& style, CloseHandler closeGranted);
    ~QtWindow() override;

    PlatformWindow* handle() { return reinterpret_cast<PlatformWindow*>(this); }
    // The live window of a handle or widget, or null.
    static QtWindow* fromHandle(PlatformWindow* handle);
    static QtWindow* fromWidget(const QWidget* widget);
    static std::vector<QtWindow*> liveWindows();
    // The live window that was activated last (by the program or the user), or null.
    static QtWindow* lastActivated();
    void noteActivated();

    QWidget* contentArea() const { return content_; }
    const PlatformWindowStyle& style() const { return style_; }
    void setDelegate(KyWindowEvents* delegate) { delegate_ = delegate; }
    KyWindowEvents* delegate() const { return delegate_; }

    // Screen coordinates, y downwards. The frame holds the decorations and the menu bar.
    QRect contentRect() const;
    void setContentRect(const QRect& content);
    QRect frameRect() const;
    void setFrameRect(const QRect& frame);
    // The window system's decorations: the real ones once the window is on screen, an
    // estimate before.
    QMargins decorationMargins() const;
    static QMargins estimatedMargins(const PlatformWindowStyle& style);

    // Centres the frame on the main screen's available area.
    void centerOnScreen();

    // Zooms to the screen or back to the normal frame, if the delegate agrees.
    void zoom();

    // The application menu shown in this window's menu bar (null: no menu bar).
    void setApplicationMenu(QMenu* menu);
    QMenu* applicationMenu() const;

    // The button that Return presses (null: none).
    void setDefaultButton(QPushButton* button);
    QPushButton* defaultButton() const;

    void setParentWindow(QtWindow* parent);
    QtWindow* parentWindow() const;

    // The binding starts closing the window: it reports nothing more. False when it already
    // is closing.
    bool beginClosing();
    // The window has closed: it leaves the registry.
    void retire();
    bool retired() const { return retired_; }

    void reportMouseUp(Qt::MouseButton button, int clickCount);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    template <typename Report>
    void report(Report&& call) {
        if (delegate_ == nullptr || closing_ || retired_) return;
        LayerCall scope;
        call(*delegate_);
    }
    void applyClientGeometry(const QRect& client);
    int menuBarHeight() const { return showsMenuBar_ ? menuBarHeight_ : 0; }
    QRect zoomTarget(bool enlarge) const;
    // The frame as centerOnScreen would place it.
    QRect centredFrame() const;
    void linkTransientParent();

    PlatformWindowStyle style_;
    CloseHandler closeGranted_;
    KyWindowEvents* delegate_ = nullptr;
    QtContentArea* content_;
    QMenuBar* bar_;
    QPointer<QMenu> appMenu_;
    bool showsMenuBar_ = false;
    int menuBarHeight_ = 0;
    QPointer<QPushButton> defaultButton_;
    QPointer<QWidget> parentWindow_;
    bool closing_ = false;
    bool retired_ = false;
    bool reportedActive_ = false;
    bool programZoom_ = false;
};
