// What the desktop interface layer needs of a window system, and nothing more.
//
// The layer's logic (event queue, windows, gadgets, menus, requesters) is written against this
// interface only. ui/platform/qt/ binds it to Qt 6 Widgets; the tests bind it to an in-memory
// platform. Every method is called on the GUI thread, except postToGuiThread and wake, which
// other threads reach only through PostToGuiThread and WakeGuiThread below (so that they never
// reach a platform that is being replaced or destroyed).
//
// Texts crossing this interface are UTF-8 (the platform's strings); the layer converts them
// from and to its 8-bit Latin-1 texts. Rectangles are in points, y downwards.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Opaque platform objects; only a binding knows what they are.
struct PlatformWindow;
struct PlatformView;
struct PlatformMenuBar;

class KyWindowEvents;
class KyGadgetFunctions;
class KyMenuDelegate;

struct PlatformRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

// Window decorations. All false: a borderless window.
struct PlatformWindowStyle {
    bool titled = false;
    bool closable = false;
    bool resizable = false;
    bool miniaturizable = false;
};

enum class PlatformViewKind {
    Label,        // static text
    Button,       // push button; keeps an on/off state that every click flips
    TextField,    // editable single-line text
    SecureField,  // editable single-line text shown as dots
    Slider,       // horizontal or vertical by its frame
};

enum class PlatformTextAlignment { Natural, Left, Right, Center };

// The user's home as the platform's conventions give it to the process: the values of HOME
// and XDG_CONFIG_HOME, empty when unset.
struct PlatformHomeFolders {
    std::string home;
    std::string xdgConfigHome;
};

// Entries of the application menu that the layer enables and the user can choose.
enum class PlatformAppMenuItem { About, Preferences, Quit };

// A button of a modal alert: its title and the value the alert returns when it is pressed.
struct PlatformAlertButton {
    std::string title;
    int64_t tag = 0;
};

// Called back by the binding for a text field's editing; owned by the gadget.
class PlatformTextValidator {
  public:
    virtual ~PlatformTextValidator() = default;
    // Asked before every edit with the whole text the edit would produce. true accepts it as
    // it is; false rejects it, unless *replacement is set, which then stands instead.
    virtual bool isPartialStringValid(const std::string& partial, std::string* replacement,
                                      bool* replaced) = 0;
};

class UiPlatform {
  public:
    virtual ~UiPlatform() = default;

    // --- application -------------------------------------------------------------------
    // Makes this process the active application.
    virtual void bringToFront() = 0;
    // Full path of the running executable, empty when unknown.
    virtual std::string executablePath() = 0;
    // Where the user's own folders are; the program's files go there when its bundle cannot
    // hold them.
    virtual PlatformHomeFolders homeFolders() = 0;
    // Handles at most one platform event, waiting up to timeoutMs (negative: no limit, 0: only
    // what is pending). Returns false when the time ran out with nothing handled. A blocked
    // wait must use no processor time.
    virtual bool handleOneEvent(int32_t timeoutMs) = 0;
    // Ends a blocked handleOneEvent soon. Any thread.
    virtual void wake() = 0;
    // Runs task on the GUI thread inside a later handleOneEvent. Any thread.
    virtual void postToGuiThread(std::function<void()> task) = 0;
    // Runs task inside a handleOneEvent once delayMs have passed (or later). Never inside this
    // call, also for 0.
    virtual void runOnGuiThreadAfter(int32_t delayMs, std::function<void()> task) = 0;
    // Sounds the alert sound (a field refused a keystroke).
    virtual void beep() = 0;

    // --- windows -----------------------------------------------------------------------
    virtual PlatformRect mainScreenFrame() = 0;
    // The frame of a window whose content area is content, for the style: the frame's origin
    // lies up and left of the content's by the decorations.
    virtual PlatformRect frameRectForContentRect(PlatformRect content,
                                                 PlatformWindowStyle style) = 0;
    // Creates a hidden window with its content area at content (screen coordinates, y
    // downwards) and an empty content view. Null when the window system refuses.
    virtual PlatformWindow* createWindow(PlatformRect content, PlatformWindowStyle style) = 0;
    // The object the window reports its notifications to (null: none).
    virtual void setWindowDelegate(PlatformWindow* window, KyWindowEvents* delegate) = 0;
    virtual void setWindowTitle(PlatformWindow* window, const std::string& title) = 0;
    virtual PlatformRect windowFrame(PlatformWindow* window) = 0;
    virtual void setWindowFrame(PlatformWindow* window, PlatformRect frame) = 0;
    virtual void centerWindow(PlatformWindow* window) = 0;
    // Shows the window; activate also makes it the key window.
    virtual void showWindow(PlatformWindow* window, bool activate) = 0;
    virtual void miniaturizeWindow(PlatformWindow* window) = 0;
    virtual void zoomWindow(PlatformWindow* window) = 0;
    virtual bool isWindowVisible(PlatformWindow* window) = 0;
    virtual bool isWindowZoomed(PlatformWindow* window) = 0;
    virtual bool isWindowResizable(PlatformWindow* window) = 0;
    virtual PlatformWindow* keyWindow() = 0;
    virtual void makeKeyWindow(PlatformWindow* window) = 0;
    virtual void addChildWindow(PlatformWindow* parent, PlatformWindow* child) = 0;
    virtual void removeChildWindow(PlatformWindow* parent, PlatformWindow* child) = 0;
    virtual PlatformWindow* parentWindow(PlatformWindow* window) = 0;
    // Closes the window: the binding calls the delegate's windowWillClose, destroys the
    // window's views (each view's functions object hears viewDestroyed) and the window.
    virtual void closeWindow(PlatformWindow* window) = 0;

    // --- views -------------------------------------------------------------------------
    // Creates a view in the window's content area at frame (window coordinates). The view
    // reports to functions: actions, text changes, focus, its destruction. Null on failure.
    virtual PlatformView* createView(PlatformWindow* window, PlatformViewKind kind,
                                     PlatformRect frame, KyGadgetFunctions* functions) = 0;
    // Removes the view from its window and destroys it (functions hears viewDestroyed).
    virtual void removeView(PlatformView* view) = 0;
    virtual PlatformWindow* viewWindow(PlatformView* view) = 0;
    virtual std::string viewText(PlatformView* view) = 0;
    // Changing a text from the program never reports a text change.
    virtual void setViewText(PlatformView* view, const std::string& text) = 0;
    virtual int64_t viewIntValue(PlatformView* view) = 0;
    virtual void setViewIntValue(PlatformView* view, int64_t value) = 0;
    virtual void setViewEnabled(PlatformView* view, bool enabled) = 0;
    virtual bool isViewEnabled(PlatformView* view) = 0;
    virtual void setViewHidden(PlatformView* view, bool hidden) = 0;
    virtual PlatformRect viewFrame(PlatformView* view) = 0;
    virtual void setViewFrame(PlatformView* view, PlatformRect frame) = 0;
    virtual void focusView(PlatformView* view) = 0;
    virtual void setViewAlignment(PlatformView* view, PlatformTextAlignment alignment) = 0;
    virtual void setViewBordered(PlatformView* view, bool bordered) = 0;
    virtual void setViewEditable(PlatformView* view, bool editable) = 0;
    // Text shown greyed (labels never disable themselves).
    virtual void setViewTextGreyed(PlatformView* view, bool greyed) = 0;
    virtual void setTextValidator(PlatformView* view, PlatformTextValidator* validator) = 0;
    // Buttons: rounded (true) or square bezel; Return presses a default button.
    virtual void setButtonRounded(PlatformView* view, bool rounded) = 0;
    virtual bool isButtonRounded(PlatformView* view) = 0;
    virtual void setButtonToggles(PlatformView* view, bool toggles) = 0;
    virtual void setButtonDefault(PlatformView* view, bool isDefault) = 0;
    // Sliders.
    virtual void setSliderRange(PlatformView* view, double minimum, double maximum) = 0;
    virtual double sliderMinimum(PlatformView* view) = 0;
    virtual double sliderMaximum(PlatformView* view) = 0;
    virtual void setSliderTickMarks(PlatformView* view, int64_t count, bool snap) = 0;

    // --- menus -------------------------------------------------------------------------
    // Builds the application menu once (About <name>, Preferences…, Quit <name> with its
    // shortcut); choosing an entry calls the delegate. All entries but Quit start disabled.
    virtual void buildApplicationMenu(const std::string& name, KyMenuDelegate* delegate) = 0;
    virtual void setAppMenuItemEnabled(PlatformAppMenuItem item, bool enabled) = 0;
    // A menu bar; the application menu is always its first menu while it is installed.
    virtual PlatformMenuBar* createMenuBar() = 0;
    virtual void destroyMenuBar(PlatformMenuBar* bar) = 0;
    // Makes bar the main menu (on platforms with one menu bar per window: the bar of window,
    // which may be null for the default bar).
    virtual void installMenuBar(PlatformMenuBar* bar, PlatformWindow* window) = 0;
    virtual PlatformMenuBar* installedMenuBar() = 0;

    // --- requester ---------------------------------------------------------------------
    // Runs a modal alert with a headline, a secondary text and the buttons (none: one OK
    // button). Returns the tag of the pressed button, 0 for the OK button or on failure.
    virtual int64_t runAlert(const std::string& title, const std::string& text,
                             const std::vector<PlatformAlertButton>& buttons) = 0;
};

// The platform the layer uses: set by the program (or a test) before ApplicationInit, and set
// to null before that platform is destroyed. Once SetUiPlatform returns, no thread is inside a
// call that PostToGuiThread or WakeGuiThread made to the platform it replaced, and none enters
// one: a worker that outlives the shut-down posts into nothing.
void SetUiPlatform(UiPlatform* platform);
// GUI thread: the platform, or null.
UiPlatform* CurrentUiPlatform();
// Any thread: hands task to the platform's postToGuiThread; dropped when there is no platform.
void PostToGuiThread(std::function<void()> task);
// Any thread: the platform's wake, when there is a platform.
void WakeGuiThread();
// GUI thread: hands task to the platform's runOnGuiThreadAfter; false (task dropped) when there
// is no platform or this is another thread.
bool RunOnGuiThreadAfter(int32_t delayMs, std::function<void()> task);
