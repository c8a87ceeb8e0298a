// The Qt binding on the offscreen platform, driven as a user would; stand-in gadgets record.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/layers.h"
#include "ui/platform/qt/qt_menus.h"
#include "ui/platform/qt/qt_number_glyphs.h"
#include "ui/platform/qt/qt_platform.h"
#include "ui/ui.h"

namespace {

struct Reports {                          // what a view reported to its gadget
    std::vector<int64_t> statesAtAction;  // the view's value when each action arrived
    std::vector<bool> editEnds;           // true: ended by Return
    int textChanges = 0, focusGained = 0, destroyed = 0;
};

struct RecordingFunctions final : KyGadgetFunctions {
    explicit RecordingFunctions(Reports& reports) : seen(reports) {}
    void EventHandler(PlatformView* sender) override {
        seen.statesAtAction.push_back(CurrentUiPlatform()->viewIntValue(sender));
    }
    void controlTextDidChange() override { ++seen.textChanges; }
    void becomeFirstResponder() override { ++seen.focusGained; }
    void textDidEndEditing(bool byReturn) override { seen.editEnds.push_back(byReturn); }
    void FreeGadget() override { ++seen.destroyed; }
    Reports& seen;
};

struct QtPlatformTest : ::testing::Test {
    void SetUp() override {
        platform = std::make_unique<QtUiPlatform>(PlatformHomeFolders{});  // stays out of HOME
        SetUiPlatform(platform.get());
        StartLayers();
    }
    void TearDown() override {
        // Closing ends the windows' views and delegates, which own what the test gave them.
        for (PlatformWindow* window : windows_)
            platform->closeWindow(window);
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
        platform.reset();
    }
    // A titled, closable window with the layer's delegate under number, shown and active.
    PlatformWindow* OpenWindow(int64_t number, PlatformRect content = {100, 100, 260, 160}) {
        PlatformWindow* window = platform->createWindow(content, {true, true, false, false});
        windows_.push_back(window);
        (new KyWindowEvents())->connect(window, number);
        platform->showWindow(window, true);
        EXPECT_TRUE(QTest::qWaitForWindowActive(Widget(window)));
        return window;
    }
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
    // Until the layer returns an event of kind for object; the other events pass.
    static bool WaitFor(int64_t kind, int64_t object) {
        return QTest::qWaitFor(
            [&] { return WaitEventTimeout(0) == kind && EventMenu() == object; });
    }
    std::unique_ptr<QtUiPlatform> platform;
    std::deque<Reports> reports;
    std::vector<PlatformWindow*> windows_;
};

TEST_F(QtPlatformTest, ValidatorReturnButtonsAndSliders) {
    Reports *first, *second, *button, *seen;
    PlatformWindow* window = OpenWindow(1);
    KyNumericFormatter digits;  // refuses, and the upper-case one replaces
    KyUpperCaseFormatter upper;
    // clang-format off
    const std::tuple<PlatformTextValidator*, const char*, const char*, int> cases[] = {
        {&digits, "a", "100", 0}, {&digits, "4x2", "10042", 2}, {&upper, "ab", "100AB", 2},
        {nullptr, "a b", "100a b", 3}};
    // clang-format on
    for (const auto& [validator, typed, shown, changes] : cases) {
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
    PlatformView* one = AddView(window, PlatformViewKind::TextField, &first, {10, 10, 100, 25});
    PlatformView* two = AddView(window, PlatformViewKind::SecureField, &second, {10, 40, 100, 25});
    PlatformView* ok = AddView(window, PlatformViewKind::Button, &button, {10, 70, 80, 25});
    platform->setButtonToggles(ok, true);
    platform->focusView(one);
    QTest::keyClick(Widget(one), Qt::Key_Return);
    platform->setButtonDefault(ok, true);
    QTest::keyClick(Widget(one), Qt::Key_Return);  // presses the default button too
    for (int press = 0; press < 2; ++press)
        QTest::mouseClick(Widget(ok), Qt::LeftButton);
    // Every press flips the state before the action arrives.
    EXPECT_EQ(button->statesAtAction, (std::vector<int64_t>{1, 0, 1}));
    EXPECT_TRUE(qobject_cast<QPushButton*>(Widget(ok))->isChecked());
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::About, true);
    platform->setAppMenuItemEnabled(PlatformAppMenuItem::Quit, false);  // Quit stays on
    platform->applicationMenu()->actions().front()->trigger();
    EXPECT_TRUE(WaitFor(MenuItemChosen, -3));
    QTest::keyClick(Widget(one), Qt::Key_Q, Qt::ControlModifier);  // not the field's
    EXPECT_TRUE(WaitFor(MenuItemChosen, -1));
    EXPECT_EQ(platform->viewText(one), "");
    platform->focusView(two);
    EXPECT_EQ(first->editEnds, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(second->focusGained, 1);
    PlatformView* slider = AddView(window, PlatformViewKind::Slider, &seen, {220, 10, 30, 130});
    EXPECT_EQ(qobject_cast<QSlider*>(Widget(slider))->orientation(), Qt::Vertical);
    platform->setSliderRange(slider, 500, 35000);
    platform->setViewIntValue(slider, 10000);
    QTest::keyClick(Widget(slider), Qt::Key_Up);
    EXPECT_EQ(seen->statesAtAction, std::vector<int64_t>{10001});
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

TEST_F(QtPlatformTest, DelayedTasksRunInALaterEventWaitOnly) {
    std::vector<int32_t> ran;
    for (const int32_t delay : {20, 0, -1})
        platform->runOnGuiThreadAfter(delay, [&ran, delay] { ran.push_back(delay); });
    platform->runOnGuiThreadAfter(0, nullptr);  // nothing to run, nothing broken
    EXPECT_TRUE(ran.empty());
    for (int waits = 0; ran.size() < 3 && waits < 100; ++waits)
        platform->handleOneEvent(100);
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<int32_t>{-1, 0, 20}));
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
    platform->installMenuBar(bar, second);  // the menu moves; the window left shrinks back
    EXPECT_TRUE(firstBar->actions().isEmpty());
    EXPECT_EQ(platform->windowFrame(first).height, before.height);
    EXPECT_EQ(Content(second)->size(), QSize(200, 100));
}

// Roles move the entries into macOS's application menu, not in a window's bar; Quit is Ctrl+Q.
TEST(QtApplicationMenuTest, EntriesHaveTheirRolesOnlyWhenPlacedNatively) {
    for (const QtMenuPlacement placement : {QtMenuPlacement::InWindow, QtMenuPlacement::Native}) {
        const bool native = placement == QtMenuPlacement::Native;
        QtApplicationMenu menu("Navlume", nullptr, placement);
        for (const auto& [item, role] :
             {std::pair{PlatformAppMenuItem::About, QAction::AboutRole},
              {PlatformAppMenuItem::Preferences, QAction::PreferencesRole},
              {PlatformAppMenuItem::Quit, QAction::QuitRole}})
            EXPECT_EQ(menu.action(item)->menuRole(), native ? role : QAction::NoRole);
        const QAction* quit = menu.action(PlatformAppMenuItem::Quit);
        EXPECT_TRUE(quit->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Q)));
        EXPECT_EQ(menu.action(PlatformAppMenuItem::About)->text(), "About Navlume");
    }
}

// The labels' numbers: the same ink in the same place as Qt's own drawing, for each alignment.
struct Ink {  // where the ink lies in an image, and how much of it there is
    QRect box;
    int pixels = 0;
};

template <typename Paint>
Ink InkOf(Paint paint) {  // of a blank 120 x 24 image after paint
    QImage image(120, 24, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(painter);
    painter.end();
    Ink ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 160) continue;
            ++ink.pixels;
            ink.box |= QRect(x, y, 1, 1);
        }
    return ink;
}

TEST(NumberGlyphsTest, NumbersLookAsQtDrawsThemOtherTextsAreLeftToQt) {
    const QFont font = QApplication::font();
    const QRect rect(2, 1, 116, 22);
    NumberGlyphs glyphs;
    for (const Qt::Alignment horizontal : {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter}) {
        for (const char* text : {"48.117300", "-122.326393", "12:30, +5", "0"}) {
            const Qt::Alignment alignment = horizontal | Qt::AlignVCenter;
            const Ink mine = InkOf([&](QPainter& painter) {
                EXPECT_TRUE(glyphs.Draw(painter, font, Qt::black, rect, alignment, text)) << text;
            });
            const Ink qts = InkOf([&](QPainter& painter) {
                painter.setFont(font);
                painter.setPen(Qt::black);
                painter.drawText(rect, static_cast<int>(alignment), text);
            });
            const QRect apart(mine.box.topLeft() - qts.box.topLeft(),
                              mine.box.bottomRight() - qts.box.bottomRight());
            ASSERT_GT(qts.pixels, 0);
            // Within a pixel on every side, and about as much ink.
            EXPECT_TRUE(std::max({std::abs(apart.left()), std::abs(apart.top()),
                                  std::abs(apart.right()), std::abs(apart.bottom())}) <= 1 &&
                        std::abs(mine.pixels - qts.pixels) <= qts.pixels / 5)
                << text << " aligned " << horizontal;
        }
    }
    // Other texts are left to Qt; an empty one is drawn, as nothing.
    for (const QString& text :
         {QString("Navlume"), QString("48.1\u00b0"), QString("1\n2"), QString()}) {
        const Ink ink = InkOf([&](QPainter& painter) {
            EXPECT_EQ(glyphs.Draw(painter, font, Qt::black, QRect(0, 0, 120, 24),
                                  Qt::AlignLeft | Qt::AlignVCenter, text),
                      text.isEmpty())
                << text.toStdString();
        });
        EXPECT_EQ(ink.pixels, 0) << text.toStdString();
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");  // no window system: Qt draws into memory
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
