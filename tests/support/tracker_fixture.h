// The tracker inside one process: the program runs its real event loop on the test thread
// against the in-memory window system, a driver thread plays the user, loopback servers play
// the NMEA sources and a recording runner takes the viewer scripts.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/navlume.h"
#include "app/program_values.h"
#include "app/tracking_control.h"
#include "app/viewer_feed.h"
#include "runtime/temp_buffer.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/test_data.h"
#include "ui/ui.h"

namespace tracker_test {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using test_data::ReadFile;

// "latitude longitude" as lines 3 and 4 of a viewer script name them (" " for no script).
inline std::string PositionOfScript(const std::string& script) {
    const auto value = [&script](const std::string& prefix) {
        const size_t at = script.find(prefix);
        if (at == std::string::npos) return std::string();
        const size_t begin = at + prefix.size();
        return script.substr(begin, script.find("\r\n", begin) - begin);
    };
    return value("set latitude of viewInfo To ") + " " + value("set longitude of viewInfo To ");
}

// The recording runner's scripts; each run lasts runMilliseconds, and while held it waits until
// released.
struct ScriptLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> scripts;
    bool hold = false;
    int runMilliseconds = 0;
};

inline ScriptLog& Scripts() {
    static ScriptLog log;
    return log;
}

inline char* RecordScript(const char* source, int64_t start) {
    ScriptLog& log = Scripts();
    std::unique_lock<std::mutex> lock(log.mutex);
    log.scripts.emplace_back(source);
    log.changed.notify_all();
    log.changed.wait_for(lock, std::chrono::milliseconds(log.runMilliseconds),
                         [] { return false; });
    log.changed.wait_for(lock, std::chrono::seconds(5), [&log] { return !log.hold; });
    return TempEmptyAt(start) + start;
}

inline size_t ScriptCount() {
    std::lock_guard<std::mutex> lock(Scripts().mutex);
    return Scripts().scripts.size();
}

// Script index, counted from the end when negative (-1: the last); "" when there is none.
inline std::string Script(ptrdiff_t index) {
    std::lock_guard<std::mutex> lock(Scripts().mutex);
    const auto& scripts = Scripts().scripts;
    if (index < 0) index += static_cast<ptrdiff_t>(scripts.size());
    return index >= 0 && index < static_cast<ptrdiff_t>(scripts.size()) ? scripts[index] : "";
}

inline void HoldScripts(bool hold) {
    std::lock_guard<std::mutex> lock(Scripts().mutex);
    Scripts().hold = hold;
    Scripts().changed.notify_all();
}

inline bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

class TrackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/navlume-tracker-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        // The program moves into the bundle's Contents folder, where the settings live.
        fs::create_directories(BundleContents() / "MacOS");
        platform.executable = (BundleContents() / "MacOS/Navlume").string();
        SetUiPlatform(&platform);
        SetScriptRunner(RecordScript);
        std::lock_guard<std::mutex> lock(Scripts().mutex);
        Scripts().scripts.clear();
        Scripts().hold = false;
        Scripts().runMilliseconds = 0;
    }
    void TearDown() override {
        fs::current_path(previousDirectory_);
        SetScriptRunner(nullptr);
        SetUiPlatform(nullptr);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path BundleContents() const { return root_ / "Navlume.app/Contents"; }
    fs::path SettingsPath() const { return BundleContents() / "settings.cfg"; }

    // Runs the program on this thread while the driver plays the user on another. The driver
    // ends the program (close button or Quit); one that stopped early (a failed assertion) is
    // followed by a Quit, which a normal end drops unused.
    void RunProgram(const std::function<void()>& driver) {
        std::thread user([this, &driver] {
            driver();
            platform.queueUserAction(
                [this] { platform.chooseAppMenuItem(PlatformAppMenuItem::Quit); });
        });
        EXPECT_EQ(NavlumeMain(), 0);
        user.join();
        platform.discardPendingActions();
    }

    // Runs fn on the GUI thread, inside the program's event loop, and returns its result.
    template <typename Function>
    auto OnGui(Function fn) -> decltype(fn()) {
        auto task = std::make_shared<std::packaged_task<decltype(fn())()>>(fn);
        auto result = task->get_future();
        platform.queueUserAction([task] { (*task)(); });
        return result.get();
    }

    PlatformView* View(int64_t gadget) { return GadgetRecord(gadget)->view; }
    std::string Text(int64_t gadget) {
        return OnGui([this, gadget] { return platform.viewText(View(gadget)); });
    }
    std::string Labels() { return Text(LatitudeLabel) + " " + Text(LongitudeLabel); }
    std::string Title() {
        return OnGui([] { return WindowHandle(MainWindow)->title; });
    }
    int64_t State(int64_t gadget) {
        return OnGui([gadget] { return GetGadgetState(gadget); });
    }
    bool Enabled(int64_t gadget) {
        return OnGui([this, gadget] { return View(gadget)->enabled; });
    }
    bool WorkerRunning() {
        return OnGui([] { return TrackingWorkerRunning(); });
    }
    void Click(int64_t gadget) {
        OnGui([this, gadget] { platform.click(View(gadget)); });
    }
    // The user replaces the port text (digits pass the field's filter).
    void TypePort(const std::string& text) {
        OnGui([this, text] { platform.editText(View(PortField), text); });
    }
    void SetPortText(const std::string& text) {
        OnGui([text] { SetGadgetText(PortField, text.c_str()); });
    }
    void MoveZoomBar(int64_t distance) {
        OnGui([this, distance] { platform.moveSlider(View(ZoomBar), distance); });
    }
    void PressClose() {
        OnGui([this] { platform.pressCloseButton(WindowHandle(MainWindow)); });
    }
    void ChooseMenu(PlatformAppMenuItem item) {
        OnGui([this, item] { platform.chooseAppMenuItem(item); });
    }
    void ChooseQuit() { ChooseMenu(PlatformAppMenuItem::Quit); }

    void StartTracking(int32_t port) {
        TypePort(std::to_string(port));
        Click(StartButton);
    }
    // Starts tracking against server and returns the accepted client socket.
    int StartTracking(LoopbackServer& server) {
        StartTracking(server.port());
        return server.Accept();
    }

    // Waits until the labels show position ("latitude longitude").
    bool WaitForPosition(const std::string& position, int milliseconds = 3000) {
        return WaitFor([&] { return Labels() == position; }, milliseconds);
    }
    // Waits until the title is title or, with prefix, starts with it.
    bool WaitForTitle(const std::string& title, bool prefix = false, int milliseconds = 3000) {
        return WaitFor([&] { return prefix ? Title().starts_with(title) : Title() == title; },
                       milliseconds);
    }

    FakePlatform platform;

  private:
    fs::path root_;
    const fs::path previousDirectory_ = fs::current_path();
};

}  // namespace tracker_test
