// The Qt binding, driven as a user drives it on Qt's offscreen platform. Stand-in gadgets record
// what the binding reports; windows use the layer's delegate, whose reports become layer events.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/layers.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/ui.h"

namespace {

struct Reports {                          // what a view reported to its gadget
    std::vector<int64_t> statesAtAction;  // the view's value when each action arrived
    std::vector<bool> editEnds;           // true: ended by Return
    int textChanges = 0, focusGained = 0, destroyed = 0;
};

class RecordingFunctions final : public KyGadgetFunctions {
  public:
    explicit RecordingFunctions(Reports& reports) : seen_(reports) {}
    void EventHandler(PlatformView* sender) override {
        seen_.statesAtAction.push_back(CurrentUiPlatform()->viewIntValue(sender));
    }
    void controlTextDidChange() override { ++seen_.textChanges; }
    void becomeFirstResponder() override { ++seen_.focusGained; }
    void textDidEndEditing(bool byReturn) override { seen_.editEnds.push_back(byReturn); }
    void FreeGadget() override { ++seen_.destroyed; }

  private:
    Reports& seen_;
};

class QtPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform = std::make_unique<QtUiPlatform>();
        SetUiPlatform(platform.get());
        StartLayers();
    }
    void TearDown() override {
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
        platform.reset();
    }
    // A titled, closable window with the layer's delegate under number, shown and active.
    PlatformWindow* OpenWindow(int64_t number, PlatformRect content = {100, 100, 260, 160}) {
        PlatformWindow* window = platform->createWindow(content, {true, true, false, false});
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
    // Waits until the layer returns an event of kind for object; the other events pass.
    static bool WaitFor(int64_t kind, int64_t object) {
        return QTest::qWaitFor(
            [&] { return WaitEventTimeout(0) == kind && EventMenu() == object; });
    }
    std::unique_ptr<QtUiPlatform> platform;
    std::deque<Reports> reports;
};

TEST_F(QtPlatformTest, ValidatorDecidesEveryTypedCharacterButNotTheProgramsTexts) {
    KyNumericFormatter digits;  // refuses, and the upper-case one replaces
    KyUpperCaseFormatter upper;
    // clang-format off
    const std::tuple<PlatformTextValidator*, const char*, const char*, int> cases[] = {
        {&digits, "a", "100", 0}, {&digits, "4x2", "10042", 2}, {&upper, "ab", "100AB", 2},
        {nullptr, "a b", "100a b", 3}};
    // clang-format on
    PlatformWindow* window = OpenWindow(1);
    for (const auto& [validator, typed, shown, changes] : cases) {
        Reports* seen;
        PlatformView* field = AddView(window, PlatformViewKind::TextField, &seen);
        platform->setTextValidator(field, validator);
        platform->setViewText(field, "100");
        platform->focusView(field);
        QTest::keyClicks(Widget(field), typed);
        EXPECT_EQ(platform->viewText(field), shown) << typed;
        EXPECT_EQ(seen->textChanges, changes) << typed;
        platform->setViewText(field, " +77kg");  // shown as given, not reported
        EXPECT_EQ(platform->viewIntValue(field), 77);
        EXPECT_EQ(seen->textChanges, changes) << typed;
    }
}

TEST_F(QtPlatformTest, ReturnEndsAnEditAndPressesTheDefaultButton) {
    Reports *first, *second, *button;
    PlatformWindow* window = OpenWindow(1);
    PlatformView* one = AddView(window, PlatformViewKind::TextField, &first, {10, 10, 100, 25});
    PlatformView* two = AddView(window, PlatformViewKind::SecureField, &second, {10, 40, 100, 25});
    PlatformView* ok = AddView(window, PlatformViewKind::Button, &button, {10, 70, 80, 25});
    platform->focusView(one);
    QTest::keyClick(Widget(one), Qt::Key_Return);
    platform->setButtonDefault(ok, true);
    QTest::keyClick(Widget(one), Qt::Key_Return);
    EXPECT_EQ(button->statesAtAction, std::vector<int64_t>{1});  // the second Return only
    platform->focusView(two);
    EXPECT_EQ(first->editEnds, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(second->focusGained, 1);
}

TEST_F(QtPlatformTest, ButtonsFlipTheirStateFirstAndSlidersReportTheUserOnly) {
    Reports *plain, *seen;
    PlatformWindow* window = OpenWindow(1);
    PlatformView* start = AddView(window, PlatformViewKind::Button, &plain, {10, 10, 100, 25});
    platform->setButtonToggles(start, true);
    for (int press = 0; press < 3; ++press)
        QTest::mouseClick(Widget(start), Qt::LeftButton);
    EXPECT_EQ(plain->statesAtAction, (std::vector<int64_t>{1, 0, 1}));
    EXPECT_TRUE(qobject_cast<QPushButton*>(Widget(start))->isChecked());

    PlatformView* slider = AddView(window, PlatformViewKind::Slider, &seen, {220, 10, 30, 130});
    EXPECT_EQ(qobject_cast<QSlider*>(Widget(slider))->orientation(), Qt::Vertical);
    platform->setSliderRange(slider, 500, 35000);
    platform->setViewIntValue(slider, 10000);
    QTest::keyClick(Widget(slider), Qt::Key_Up);
    EXPECT_EQ(seen->statesAtAction, std::vector<int64_t>{10001});
    // Five ticks over 0..100 snap a move to the nearest multiple of 25.
    platform->setSliderRange(slider, 0, 100);
    platform->setSliderTickMarks(slider, 5, true);
    platform->setViewIntValue(slider, 50);
    qobject_cast<QSlider*>(Widget(slider))->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(seen->statesAtAction.back(), 75);
}

TEST_F(QtPlatformTest, ClosingEndsEveryViewOnceAndClicksReachTheDelegate) {
    Reports *label, *field;
    PlatformWindow* window = OpenWindow(3);
    PlatformView* text = AddView(window, PlatformViewKind::Label, &label);
    PlatformView* edit = AddView(window, PlatformViewKind::TextField, &field, {10, 40, 100, 25});
    platform->removeView(text);
    QPointer<QWidget> widget = Widget(window);
    platform->focusView(edit);
    platform->closeWindow(window);
    platform->closeWindow(window);
    platform->setViewText(edit, "gone");
    EXPECT_EQ(label->destroyed, 1);
    EXPECT_EQ(field->destroyed, 1);
    EXPECT_TRUE(field->editEnds.empty());  // a closing window reports no focus changes
    EXPECT_FALSE(platform->isWindowVisible(window));
    platform->handleOneEvent(0);  // the widgets go once control is back in the event wait
    EXPECT_TRUE(widget.isNull());

    window = OpenWindow(5);  // clicks and the close button reach the delegate
    QWidget* content = Content(window);
    while (NextEvent() != 0) {
    }
    QTest::mouseClick(content, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseDClick(content, Qt::LeftButton, {}, QPoint(5, 5));  // press, release, double
    QTest::mouseRelease(content, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseClick(content, Qt::RightButton, {}, QPoint(5, 5));
    std::vector<int32_t> kinds;
    while (int32_t kind = NextEvent())
        kinds.push_back(kind);
    // The single click's MouseUp and the double click's first one coalesce.
    EXPECT_EQ(kinds, (std::vector<int32_t>{MouseUp, DoubleMouseUp, RightMouseUp}));
    Widget(window)->windowHandle()->close();  // asks; the window stays open
    EXPECT_TRUE(WaitFor(CloseRequested, 5));
    EXPECT_TRUE(Widget(window)->isVisible());
}

TEST_F(QtPlatformTest, TheMenuBarKeepsTheContentSizeAndACentredWindowCentred) {
    PlatformWindow* first = OpenWindow(1);
    PlatformWindow* second = OpenWindow(2, {400, 120, 200, 100});
    platform->centerWindow(first);
    const PlatformRect before = platform->windowFrame(first);
    PlatformMenuBar* bar = platform->createMenuBar();
    platform->installMenuBar(bar, first);
    QMenuBar* firstBar = qobject_cast<QMainWindow*>(Widget(first))->menuBar();
    ASSERT_EQ(firstBar->actions().size(), 1);
    EXPECT_EQ(firstBar->actions().front()->menu(), platform->applicationMenu());
    EXPECT_EQ(Content(first)->size(), QSize(260, 160));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const PlatformRect frame = platform->windowFrame(first);
    EXPECT_GT(frame.height, before.height);
    EXPECT_NEAR(frame.x + frame.width / 2, area.center().x(), 1);
    EXPECT_NEAR(frame.y + frame.height / 2, area.center().y(), 1);
    // The one application menu moves; the window left behind shrinks back.
    platform->setWindowFrame(second, platform->windowFrame(second));
    platform->installMenuBar(bar, second);
    EXPECT_TRUE(firstBar->actions().isEmpty());
    EXPECT_EQ(platform->windowFrame(first).height, before.height);
    EXPECT_EQ(Content(second)->size(), QSize(200, 100));
}

TEST_F(QtPlatformTest, ApplicationMenuEntriesCallTheDelegate) {
    PlatformWindow* window = OpenWindow(0);
    MenuDelegate()->setWindowID(0);
    QStringList texts;  // start-up built the menu under the program's file name
    for (QAction* entry : platform->applicationMenu()->actions())
        texts << entry->text() + (entry->isEnabled() ? "" : " (off)");
    EXPECT_EQ(texts, QStringList({"About qt_platform_test (off)", "", "Preferences\u2026 (off)", "",
                                  "Quit qt_platform_test"}));
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::About, true);
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::Quit, false);  // Quit stays on
    platform->applicationMenu()->actions().front()->trigger();
    EXPECT_TRUE(WaitFor(MenuItemChosen, -3));
    Reports* seen;
    PlatformView* field = AddView(window, PlatformViewKind::TextField, &seen);
    platform->focusView(field);
    QTest::keyClick(Widget(field), Qt::Key_Q, Qt::ControlModifier);  // in any window
    EXPECT_TRUE(WaitFor(MenuItemChosen, -1));
    EXPECT_EQ(platform->viewText(field), "");
}

TEST_F(QtPlatformTest, AlertAnswersTheTagOfThePressedButton) {
    const std::tuple<const char*, std::vector<PlatformAlertButton>, int64_t> cases[] = {
        {"No", {{"Yes", 6}, {"No", 7}, {"Cancel", 2}}, 7}, {"OK", {}, 0}};
    for (const auto& [press, buttons, tag] : cases) {
        QString shown;
        QTimer::singleShot(0, [&, press = QString(press)] {  // inside the alert's modal loop
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activeModalWidget(); }));
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            shown = box->text() + "|" + box->informativeText();
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == press) button->click();
            }
        });
        EXPECT_EQ(platform->runAlert("Save?", "<b>now</b>", buttons), tag);
        EXPECT_EQ(shown, "Save?|<b>now</b>");
    }
}

TEST_F(QtPlatformTest, TasksFromAnotherThreadRunInOrderAndAWakeEndsTheWait) {
    Reports* seen;
    PlatformView* label = AddView(OpenWindow(1), PlatformViewKind::Label, &seen);
    std::thread([&] {
        for (int i = 1; i <= 50; ++i)
            PostToGuiThread([&, i] { platform->setViewText(label, std::to_string(i)); });
    }).join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return platform->viewText(label) == "50"; }));
    while (platform->handleOneEvent(0)) {
    }
    EXPECT_FALSE(platform->handleOneEvent(20));
    QTimer guard;  // ends the wait should the wake-up get lost
    guard.setSingleShot(true);
    guard.start(10000);
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        WakeGuiThread();
    });
    EXPECT_TRUE(platform->handleOneEvent(-1));
    waker.join();
    EXPECT_TRUE(guard.isActive());
}

}  // namespace

// The offscreen platform's notes on what it leaves out (raise, size hints) are dropped.
void DropUnsupportedNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QStringLiteral("This plugin does not support"))) return;
    fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // no window system: Qt draws into memory
    qInstallMessageHandler(DropUnsupportedNotes);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
