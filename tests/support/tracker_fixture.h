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
using std::chrono::milliseconds;
namespace fs = std::filesystem;
using test_data::ReadFile;

// The recording runner's scripts; each run lasts runMs, and while held it waits until released.
struct ScriptLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> scripts;
    bool hold = false;
    int runMs = 0;
};

inline ScriptLog scriptLog;

inline char* RecordScript(const char* source, int64_t start) {
    std::unique_lock<std::mutex> lock(scriptLog.mutex);
    scriptLog.scripts.emplace_back(source);
    scriptLog.changed.wait_for(lock, milliseconds(scriptLog.runMs), [] { return false; });
    scriptLog.changed.wait_for(lock, std::chrono::seconds(5), [] { return !scriptLog.hold; });
    return TempEmptyAt(start) + start;
}

// Sets how the recording runner behaves from now on.
inline void SetScriptRuns(bool hold, int runMs = 0) {
    std::lock_guard<std::mutex> lock(scriptLog.mutex);
    scriptLog.hold = hold;
    scriptLog.runMs = runMs;
    scriptLog.changed.notify_all();
}

inline std::vector<std::string> Scripts() {
    std::lock_guard<std::mutex> lock(scriptLog.mutex);
    return scriptLog.scripts;
}

// "latitude longitude" as lines 3 and 4 of a viewer script name them (" " for no script; by
// default the last one).
inline std::string PositionOfScript(std::string script = "") {
    if (script.empty() && !Scripts().empty()) script = Scripts().back();
    const auto value = [&script](const std::string& prefix) {
        const size_t at = script.find(prefix);
        if (at == std::string::npos) return std::string();
        return script.substr(at + prefix.size(), script.find("\r\n", at) - at - prefix.size());
    };
    return value("latitude of viewInfo To ") + " " + value("longitude of viewInfo To ");
}

inline bool WaitFor(const std::function<bool()>& condition, int ms = 3000) {
    const Clock::time_point deadline = Clock::now() + milliseconds(ms);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

inline void Settle() {
    std::this_thread::sleep_for(milliseconds(80));
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
        SetScriptRuns(false);
        std::lock_guard<std::mutex> lock(scriptLog.mutex);
        scriptLog.scripts.clear();
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
    // The Start button's text and state, whether the server and port fields take input, and
    // whether the worker runs: "Start 0 fields 11 idle" when idle.
    std::string Controls() {
        return OnGui([this] {
            return platform.viewText(View(StartButton)) + " " +
                   std::to_string(GetGadgetState(StartButton)) + " fields " +
                   std::to_string(View(ServerField)->enabled) +
                   std::to_string(View(PortField)->enabled) +
                   (TrackingWorkerRunning() ? " running" : " idle");
        });
    }
    // The user acts: clicks, replaces the port text (digits pass the field's filter), moves the
    // zoom bar, presses the close button or chooses an application menu item.
    void Click(int64_t gadget) {
        OnGui([this, gadget] { platform.click(View(gadget)); });
    }
    void TypePort(const std::string& text) {
        OnGui([this, text] { platform.editText(View(PortField), text); });
    }
    void MoveZoomBar(int64_t distance) {
        OnGui([this, distance] { platform.moveSlider(View(ZoomBar), distance); });
    }
    void PressClose() {
        OnGui([this] { platform.pressCloseButton(WindowHandle(MainWindow)); });
    }
    void ChooseMenu(PlatformAppMenuItem item = PlatformAppMenuItem::Quit) {
        OnGui([this, item] { platform.chooseAppMenuItem(item); });
    }

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
    bool WaitForPosition(const std::string& position, int ms = 3000) {
        return WaitFor([&] { return Labels() == position; }, ms);
    }
    // Waits until the title starts with prefix (and, unless whole is false, is nothing more).
    bool WaitForTitle(const std::string& prefix, bool whole = true, int ms = 3000) {
        return WaitFor([&] { return whole ? Title() == prefix : Title().starts_with(prefix); }, ms);
    }

    FakePlatform platform;

  private:
    fs::path root_;
    const fs::path previousDirectory_ = fs::current_path();
};

}  // namespace tracker_test
