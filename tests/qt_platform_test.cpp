// The Qt binding of the interface layer, driven the way a user drives it (keys, clicks, the
// close button) on Qt's offscreen platform. Gadgets are stood in for by functions objects
// that record what the binding reports; windows use the layer's own delegate, whose reports
// show up as layer events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/layers.h"
#include "runtime/list.h"
#include "runtime/network.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_map.h"
#include "ui/menus.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/ui.h"
#include "ui/windows.h"

namespace {

// What a view reported to its gadget.
struct Reports {
    std::vector<int64_t> statesAtAction;  // the view's value when each action arrived
    std::vector<bool> editEnds;           // true: ended by Return
    int textChanges = 0, focusGained = 0, destroyed = 0;
};

class RecordingFunctions final : public KyGadgetFunctions {
  public:
    explicit RecordingFunctions(Reports& reports) : Seen(reports) {}
    void EventHandler(PlatformView* sender) override {
        Seen.statesAtAction.push_back(CurrentUiPlatform()->viewIntValue(sender));
    }
    void controlTextDidChange() override { ++Seen.textChanges; }
    void becomeFirstResponder() override { ++Seen.focusGained; }
    void textDidEndEditing(bool endedByReturn) override { Seen.editEnds.push_back(endedByReturn); }
    // Runs once as the view reports its end (the object then deletes itself).
    void FreeGadget() override { ++Seen.destroyed; }

  private:
    Reports& Seen;
};

// Accepts digits only, or (upper) puts the upper-case form in place of every edit.
class TestValidator final : public PlatformTextValidator {
  public:
    explicit TestValidator(bool upper) : Upper(upper) {}
    bool isPartialStringValid(const std::string& partial, std::string* replacement,
                              bool* replaced) override {
        if (!Upper) return partial.find_first_not_of("0123456789") == std::string::npos;
        *replacement = QString::fromStdString(partial).toUpper().toStdString();
        *replaced = *replacement != partial;
        return !*replaced;
    }

  private:
    const bool Upper;
};

// Layer events as (kind, object).
using LayerEvents = std::vector<std::pair<int64_t, int64_t>>;

class QtPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform = std::make_unique<QtUiPlatform>();
        SetUiPlatform(platform.get());
        StartLayers();
    }

    void TearDown() override {
        for (PlatformWindow* window : windows)
            platform->closeWindow(window);
        EndLayers(LayerEnd::Everything);
        platform.reset();
        SetUiPlatform(nullptr);
    }

    // A titled, closable window with the layer's delegate under number, shown and active.
    PlatformWindow* OpenWindow(int64_t number, PlatformRect content = {100, 100, 260, 160}) {
        PlatformWindowStyle style;
        style.titled = style.closable = true;
        PlatformWindow* window = platform->createWindow(content, style);
        windows.push_back(window);
        (new KyWindowEvents())->connect(window, number);
        platform->showWindow(window, true);
        EXPECT_TRUE(QTest::qWaitForWindowActive(Widget(window)));
        return window;
    }

    // A view whose reports go to a new Reports, returned through seen.
    PlatformView* AddView(PlatformWindow* window, PlatformViewKind kind, Reports** seen,
                          PlatformRect frame = {10, 10, 120, 25}) {
        *seen = &reports.emplace_back();
        return platform->createView(window, kind, frame, new RecordingFunctions(**seen));
    }

    static QWidget* Widget(PlatformWindow* window) { return QtUiPlatform::windowWidget(window); }
    static QWidget* Widget(PlatformView* view) { return QtUiPlatform::viewWidget(view); }
    static QWidget* Content(PlatformWindow* window) {
        return qobject_cast<QMainWindow*>(Widget(window))->centralWidget();
    }

    // Handles what the platform has pending (bounded).
    void Settle() {
        for (int round = 0; round < 100 && platform->handleOneEvent(0); ++round) {
        }
    }

    static LayerEvents TakeEvents() {
        LayerEvents taken;
        while (int32_t kind = NextEvent())
            taken.emplace_back(kind, EventMenu());
        return taken;
    }

    // Takes the queued events and tells whether one of them was of kind for object.
    static bool Took(int64_t kind, int64_t object) {
        const LayerEvents events = TakeEvents();
        return std::ranges::find(events, std::pair(kind, object)) != events.end();
    }

    std::unique_ptr<QtUiPlatform> platform;
    std::vector<PlatformWindow*> windows;
    std::deque<Reports> reports;
};

TEST_F(QtPlatformTest, ValidatorDecidesEveryTypedCharacterAndOnlyAcceptedEditsReport) {
    TestValidator digits(false), upper(true);
    struct Case {
        PlatformTextValidator* validator;
        const char* typed;
        const char* shown;
        int changes;
    };
    const Case cases[] = {
        {&digits, "a", "100", 0},   {&digits, "7", "1007", 1},     {&digits, "4x2", "10042", 2},
        {&upper, "ab", "100AB", 2}, {nullptr, "a b", "100a b", 3},
    };
    PlatformWindow* window = OpenWindow(1);
    for (const Case& test : cases) {
        Reports* seen;
        PlatformView* field = AddView(window, PlatformViewKind::TextField, &seen);
        platform->setTextValidator(field, test.validator);
        platform->setViewText(field, "100");
        platform->focusView(field);
        QTest::keyClicks(Widget(field), test.typed);
        EXPECT_EQ(platform->viewText(field), test.shown) << test.typed;
        EXPECT_EQ(seen->textChanges, test.changes) << test.typed;
    }
}

TEST_F(QtPlatformTest, ProgramTextIsShownAsGivenWithoutValidationOrReport) {
    TestValidator digits(false);
    Reports* seen;
    PlatformView* field = AddView(OpenWindow(1), PlatformViewKind::TextField, &seen);
    platform->setTextValidator(field, &digits);
    platform->setViewText(field, "abc");
    EXPECT_EQ(platform->viewText(field), "abc");
    // Nor does it loosen the validator for the next keystroke.
    platform->focusView(field);
    QTest::keyClicks(Widget(field), "d");
    EXPECT_EQ(platform->viewText(field), "abc");
    platform->setViewText(field, "  +77kg");
    EXPECT_EQ(platform->viewIntValue(field), 77);
    EXPECT_EQ(seen->textChanges, 0);
}

TEST_F(QtPlatformTest, EditShortcutsReachTheFocusedField) {
    Reports* seen;
    PlatformWindow* window = OpenWindow(1);
    platform->buildApplicationMenu("Navlume", MenuDelegate());
    PlatformView* field = AddView(window, PlatformViewKind::TextField, &seen);
    platform->setViewText(field, "4711");
    platform->focusView(field);
    for (Qt::Key key : {Qt::Key_A, Qt::Key_X})
        QTest::keyClick(Widget(field), key, Qt::ControlModifier);
    EXPECT_EQ(platform->viewText(field), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "4711");
    for (Qt::Key key : {Qt::Key_V, Qt::Key_V, Qt::Key_Z})
        QTest::keyClick(Widget(field), key, Qt::ControlModifier);
    EXPECT_EQ(platform->viewText(field), "4711");
    EXPECT_EQ(seen->textChanges, 4);
    // No menu command (Quit) took any of the keys.
    for (const auto& [kind, object] : TakeEvents())
        EXPECT_NE(kind, MenuItemChosen) << object;
}

TEST_F(QtPlatformTest, FocusStartsEditingAndLeavingOrReturnEndsIt) {
    Reports *first, *second, *button;
    PlatformWindow* window = OpenWindow(1);
    PlatformView* one = AddView(window, PlatformViewKind::TextField, &first, {10, 10, 100, 25});
    PlatformView* two = AddView(window, PlatformViewKind::SecureField, &second, {10, 40, 100, 25});
    PlatformView* ok = AddView(window, PlatformViewKind::Button, &button, {10, 70, 80, 25});
    platform->focusView(one);
    EXPECT_EQ(first->focusGained, 1);
    QTest::keyClick(Widget(one), Qt::Key_Return);
    EXPECT_EQ(first->editEnds, std::vector<bool>{true});
    EXPECT_TRUE(Widget(one)->hasFocus());
    EXPECT_TRUE(button->statesAtAction.empty());
    // Return presses the default button too.
    platform->setButtonDefault(ok, true);
    QTest::keyClick(Widget(one), Qt::Key_Return);
    EXPECT_EQ(button->statesAtAction, std::vector<int64_t>{1});

    platform->focusView(two);
    EXPECT_EQ(first->editEnds, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(second->focusGained, 1);
}

TEST_F(QtPlatformTest, EveryClickFlipsTheButtonStateBeforeTheActionArrives) {
    Reports *plain, *toggle;
    PlatformWindow* window = OpenWindow(1);
    PlatformView* start = AddView(window, PlatformViewKind::Button, &plain, {10, 10, 100, 25});
    PlatformView* check = AddView(window, PlatformViewKind::Button, &toggle, {10, 40, 100, 25});
    platform->setButtonToggles(check, true);
    for (int press = 0; press < 3; ++press) {
        QTest::mouseClick(Widget(start), Qt::LeftButton);
        QTest::mouseClick(Widget(check), Qt::LeftButton);
    }
    EXPECT_EQ(plain->statesAtAction, (std::vector<int64_t>{1, 0, 1}));
    EXPECT_EQ(toggle->statesAtAction, (std::vector<int64_t>{1, 0, 1}));
    EXPECT_TRUE(qobject_cast<QPushButton*>(Widget(check))->isChecked());
}

TEST_F(QtPlatformTest, SliderReportsTheUsersMovesOnly) {
    Reports* seen;
    PlatformView* slider =
        AddView(OpenWindow(1), PlatformViewKind::Slider, &seen, {220, 10, 30, 130});
    platform->setSliderRange(slider, 500, 35000);
    platform->setViewIntValue(slider, 10000);
    EXPECT_TRUE(seen->statesAtAction.empty());
    QTest::keyClick(Widget(slider), Qt::Key_Up);
    EXPECT_EQ(seen->statesAtAction, std::vector<int64_t>{10001});

    // Five ticks over 0..100 snap a move to the nearest multiple of 25.
    platform->setSliderRange(slider, 0, 100);
    platform->setSliderTickMarks(slider, 5, true);
    platform->setViewIntValue(slider, 50);
    qobject_cast<QSlider*>(Widget(slider))->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(seen->statesAtAction.back(), 75);
}

TEST_F(QtPlatformTest, ClosingEndsEveryViewOnceAndTheHandlesGoDead) {
    Reports *label, *field;
    PlatformWindow* window = OpenWindow(3);
    PlatformView* text = AddView(window, PlatformViewKind::Label, &label);
    PlatformView* edit = AddView(window, PlatformViewKind::TextField, &field, {10, 40, 100, 25});
    platform->removeView(text);
    EXPECT_EQ(label->destroyed, 1);

    QPointer<QWidget> widget = Widget(window);
    platform->focusView(edit);
    platform->closeWindow(window);
    EXPECT_EQ(label->destroyed, 1);
    EXPECT_EQ(field->destroyed, 1);
    EXPECT_TRUE(field->editEnds.empty());  // a closing window reports no focus changes
    EXPECT_FALSE(platform->isWindowVisible(window));
    platform->setViewText(edit, "gone");
    platform->closeWindow(window);
    EXPECT_EQ(field->destroyed, 1);
    // The widgets go once control is back in the event wait.
    platform->handleOneEvent(0);
    EXPECT_TRUE(widget.isNull());
}

TEST_F(QtPlatformTest, ClicksAndTheCloseButtonReachTheDelegate) {
    PlatformWindow* window = OpenWindow(5);
    QWidget* content = Content(window);
    TakeEvents();
    QTest::mouseClick(content, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(Took(MouseUp, 5));
    // A real double click: press, release, Qt's double-click event, release.
    QTest::mouseClick(content, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(content, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(content, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(TakeEvents(), (LayerEvents{{MouseUp, 5}, {DoubleMouseUp, 5}}));
    QTest::mouseClick(content, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_TRUE(Took(RightMouseUp, 5));
    // The close button asks; the window stays open.
    Widget(window)->windowHandle()->close();
    Settle();
    EXPECT_TRUE(Took(CloseRequested, 5));
    EXPECT_TRUE(Widget(window)->isVisible());
}

TEST_F(QtPlatformTest, ContentAreaKeepsItsExactSizeWithAndWithoutTheMenuBar) {
    PlatformWindow* first = OpenWindow(1);
    PlatformWindow* second = OpenWindow(2, {400, 120, 200, 100});
    platform->buildApplicationMenu("Navlume", MenuDelegate());
    const PlatformRect before = platform->windowFrame(first);
    PlatformMenuBar* bar = platform->createMenuBar();
    platform->installMenuBar(bar, first);
    Settle();
    EXPECT_EQ(Content(first)->size(), QSize(260, 160));
    QMenuBar* firstBar = qobject_cast<QMainWindow*>(Widget(first))->menuBar();
    ASSERT_EQ(firstBar->actions().size(), 1);
    EXPECT_EQ(firstBar->actions().front()->menu(), platform->applicationMenu());

    // The one application menu moves; the window left behind shrinks back.
    platform->installMenuBar(bar, second);
    Settle();
    EXPECT_TRUE(firstBar->actions().isEmpty());
    EXPECT_EQ(platform->windowFrame(first).height, before.height);
    EXPECT_EQ(Content(second)->size(), QSize(200, 100));
    platform->setWindowFrame(second, platform->windowFrame(second));
    Settle();
    EXPECT_EQ(Content(second)->size(), QSize(200, 100));
}

TEST_F(QtPlatformTest, ApplicationMenuEntriesCallTheDelegate) {
    PlatformWindow* window = OpenWindow(0);
    MenuDelegate()->setWindowID(0);
    std::vector<QAction*> items;
    QStringList texts;
    for (QAction* entry : platform->applicationMenu()->actions()) {
        if (entry->isSeparator()) continue;
        items.push_back(entry);
        texts << entry->text() + (entry->isEnabled() ? "" : " (off)");
    }
    // Start-up built the menu under the program's file name.
    EXPECT_EQ(texts, QStringList({"About qt_platform_test (off)",
                                  QString("Preferences\u2026 (off)"), "Quit qt_platform_test"}));
    ASSERT_EQ(items.size(), 3u);
    TakeEvents();
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::About, true);
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::Quit, false);
    items[0]->trigger();
    EXPECT_TRUE(Took(MenuItemChosen, -3));

    // Ctrl+Q works in any window, also with a text field focused or the entry disabled, and
    // ends nothing itself.
    Reports* seen;
    PlatformView* field = AddView(window, PlatformViewKind::TextField, &seen);
    platform->focusView(field);
    TakeEvents();
    QTest::keyClick(Widget(field), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(Took(MenuItemChosen, -1));
    EXPECT_EQ(platform->viewText(field), "");
}

// Presses the button titled title of the next alert, from inside its modal loop.
void PressAlertButton(const QString& title, QString* shownText) {
    auto* timer = new QTimer();
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, title, shownText, tries] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr && ++*tries < 500) return;
        timer->stop();
        timer->deleteLater();
        if (box == nullptr) return;
        *shownText = box->text() + "|" + box->informativeText();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == title) button->click();
        }
    });
    timer->start(10);
}

TEST_F(QtPlatformTest, AlertAnswersTheTagOfThePressedButton) {
    QString shown;
    PressAlertButton("No", &shown);
    EXPECT_EQ(platform->runAlert("Save?", "<b>now</b>", {{"Yes", 6}, {"No", 7}, {"Cancel", 2}}), 7);
    EXPECT_EQ(shown, "Save?|<b>now</b>");
    PressAlertButton("OK", &shown);  // no buttons given: one OK button
    EXPECT_EQ(platform->runAlert("Invalid Port", "Please select a port", {}), 0);
    EXPECT_EQ(shown, "Invalid Port|Please select a port");
}

// Waits (bounded) until the layer returns an event of kind for object (and of type, unless
// -1); the other events pass.
bool WaitFor(int64_t kind, int64_t object, int64_t type = -1) {
    for (int round = 0; round < 200; ++round) {
        const int64_t taken = WaitEventTimeout(10);
        if (taken == kind && EventGadget() == object && (type == -1 || EventType() == type)) {
            return true;
        }
    }
    return false;
}

TEST_F(QtPlatformTest, TheTrackersWindowWorksThroughTheLayer) {
    ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Navlume", 0x44), 0);
    ASSERT_NE(CreateStringGadget(5, 90, 40, 80, 25, "10000", kStringNumeric), 0);
    ASSERT_NE(CreateButtonGadget(3, 70, 80, 100, 25, "Start"), 0);
    ASSERT_TRUE(QTest::qWaitForWindowActive(Widget(WindowHandle(0))));

    QWidget* port = Widget(GadgetRecord(5)->view);
    ActivateGadget(5);
    EXPECT_TRUE(WaitFor(GadgetEvent, 5, FocusGained));
    QTest::keyClicks(port, "a");
    EXPECT_EQ(QueuedEventCount(), 0);
    QTest::keyClicks(port, "7");
    EXPECT_TRUE(WaitFor(GadgetEvent, 5, TextChanged));
    EXPECT_EQ(platform->viewText(GadgetRecord(5)->view), "100007");

    QTest::mouseClick(Widget(GadgetRecord(3)->view), Qt::LeftButton);
    EXPECT_TRUE(WaitFor(GadgetEvent, 3));
    EXPECT_EQ(GetGadgetState(3), 1);
}

TEST_F(QtPlatformTest, TheAddressFieldRefusesEditsThatBreakTheAddress) {
    ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Navlume", 0x44), 0);
    ASSERT_NE(CreateIPAddressGadget(4, 90, 10, 110, 25), 0);
    SetGadgetState(4, 16777343);  // 127.0.0.1
    auto* field = qobject_cast<QLineEdit*>(Widget(GadgetRecord(4)->view));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowActive(Widget(WindowHandle(0))));
    ActivateGadget(4);
    TakeEvents();

    // Deleting the first dot would leave three parts: refused, nothing reported.
    field->setCursorPosition(4);
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(field->text(), "127.0.0.1");
    EXPECT_EQ(QueuedEventCount(), 0);

    // Changing a part keeps a full address: accepted and reported.
    field->setCursorPosition(9);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, "9");
    EXPECT_EQ(GetGadgetState(4), MakeIPv4Address(127, 0, 0, 9));
    EXPECT_TRUE(WaitFor(GadgetEvent, 4, TextChanged));
}

// One gadget of each kind in a window, saved as a picture for people to look at.
TEST_F(QtPlatformTest, AWindowWithEveryKindOfGadgetRendersToAPicture) {
    ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Gadgets", 0x44), 0);
    CreateTextGadget(-1, 10, 10, 70, 25, "Label:", kTextRight);
    CreateIPAddressGadget(4, 90, 10, 110, 25);
    SetGadgetState(4, 16777343);
    CreateStringGadget(5, 90, 40, 80, 25, "10000", kStringNumeric);
    CreateButtonGadget(3, 70, 80, 100, 25, "Button");
    CreateTrackBarGadget(0, 220, 10, 30, 130, 500, 35000, 2);
    SetGadgetState(0, 12000);
    CreateTextGadget(1, 20, 120, 180, 20, "48.117300  11.516667", 0);
    Settle();

    const QImage picture = Widget(WindowHandle(0))->grab().toImage();
    EXPECT_GE(picture.width(), 260);
    EXPECT_GE(picture.height(), 160);
    const QString path = QDir::temp().filePath("navlume-gadgets.png");
    EXPECT_TRUE(picture.save(path));
    std::printf("gadget gallery saved to %s\n", path.toLocal8Bit().constData());
    // The vertical slider stands where it was put: taller than wide.
    QWidget* slider = Widget(GadgetRecord(0)->view);
    EXPECT_EQ(qobject_cast<QSlider*>(slider)->orientation(), Qt::Vertical);
}

TEST_F(QtPlatformTest, TextsSetFromAnotherThreadShowTheLastOne) {
    Reports* seen;
    PlatformView* label = AddView(OpenWindow(1), PlatformViewKind::Label, &seen);
    std::atomic<int> ran{0};
    std::thread worker([&] {
        for (int i = 1; i <= 50; ++i) {
            platform->postToGuiThread([&, i] {
                platform->setViewText(label, std::to_string(i));
                ++ran;
            });
        }
    });
    worker.join();
    for (int round = 0; round < 1000 && ran < 50; ++round)
        platform->handleOneEvent(100);
    EXPECT_EQ(platform->viewText(label), "50");
}

TEST_F(QtPlatformTest, WaitReturnsAtOnceOnTimeoutOrWhenWoken) {
    Settle();
    EXPECT_FALSE(platform->handleOneEvent(0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform->handleOneEvent(40));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));

    // A guard ends the wait should the wake-up get lost.
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(10000);
    std::atomic<bool> woken{false};
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        woken = true;
        platform->wake();
    });
    bool handled = false;
    for (int round = 0; round < 100 && !woken && guard.isActive(); ++round)
        handled = platform->handleOneEvent(-1);
    waker.join();
    EXPECT_TRUE(handled);
    EXPECT_TRUE(guard.isActive());
}

}  // namespace

// The offscreen platform warns about every window operation it leaves out (raise, size
// hints); everything else is shown.
void DropUnsupportedNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QStringLiteral("This plugin does not support"))) return;
    fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

int main(int argc, char** argv) {
    // No window system is needed: Qt draws into memory.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(DropUnsupportedNotes);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
