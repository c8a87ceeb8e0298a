// The tracker end to end inside one process: the program runs its real event loop on the test
// thread against the in-memory window system, a driver thread plays the user, a loopback
// server plays the NMEA source and a recording runner takes the viewer scripts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/navlume.h"
#include "app/program_values.h"
#include "app/tracking_control.h"
#include "app/tracking_worker.h"
#include "runtime/network.h"
#include "runtime/temp_buffer.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kExampleSentence =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

std::string ScriptFor(const std::string& latitude, const std::string& longitude,
                      const std::string& distance) {
    return "tell application \"Google Earth\"\r\nset viewInfo To GetViewInfo\r\n"
           "set latitude of viewInfo To " +
           latitude + "\r\nset longitude of viewInfo To " + longitude +
           "\r\nset distance of viewInfo To " + distance +
           "\r\nset tilt of viewInfo To 0\r\nSetViewInfo viewInfo speed 0.9\r\nEnd tell";
}

// The recording runner: keeps every script; while held, each run waits until released.
std::mutex scriptsMutex;
std::condition_variable scriptsChanged;
std::vector<std::string> scripts;
bool holdScripts = false;

char* RecordScript(const char* source, int64_t start) {
    std::unique_lock<std::mutex> lock(scriptsMutex);
    scripts.emplace_back(source);
    scriptsChanged.notify_all();
    scriptsChanged.wait_for(lock, std::chrono::seconds(5), [] { return !holdScripts; });
    TempEmptyAt(start);
    return TempAt(start);
}

size_t ScriptCount() {
    std::lock_guard<std::mutex> lock(scriptsMutex);
    return scripts.size();
}

std::string Script(size_t index) {
    std::lock_guard<std::mutex> lock(scriptsMutex);
    return index < scripts.size() ? scripts[index] : "";
}

void HoldScripts(bool hold) {
    std::lock_guard<std::mutex> lock(scriptsMutex);
    holdScripts = hold;
    scriptsChanged.notify_all();
}

// A runner that hangs: the real runner on a program that sleeps.
std::string hangingRunner;
char* RunHangingScript(const char* source, int64_t start) {
    return RunScriptWith(hangingRunner.c_str(), source, start);
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

void Settle() {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
}

class TrackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/navlume-tracker-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        // The program moves into the bundle's Contents folder, where the settings live.
        fs::create_directories(root_ / "Navlume.app/Contents/MacOS");
        platform.executable = (root_ / "Navlume.app/Contents/MacOS/Navlume").string();
        previousDirectory_ = fs::current_path();
        SetUiPlatform(&platform);
        SetScriptRunner(RecordScript);
        std::lock_guard<std::mutex> lock(scriptsMutex);
        scripts.clear();
        holdScripts = false;
    }

    void TearDown() override {
        fs::current_path(previousDirectory_);
        SetScriptRunner(nullptr);
        SetUiPlatform(nullptr);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path SettingsPath() const { return root_ / "Navlume.app/Contents/settings.cfg"; }

    std::string SettingsText() const {
        std::ifstream file(SettingsPath(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    // Runs the program on this thread while the driver plays the user on another. The driver
    // must end the program (close button or Quit).
    void RunProgram(const std::function<void()>& driver) {
        std::thread user([this, &driver] {
            driver();
            // A driver that stopped early (a failed assertion) still ends the program; after a
            // normal end this action is never taken and is dropped below.
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
        using Result = decltype(fn());
        auto task = std::make_shared<std::packaged_task<Result()>>(fn);
        std::future<Result> result = task->get_future();
        platform.queueUserAction([task] { (*task)(); });
        return result.get();
    }

    PlatformView* View(int64_t gadget) {
        return OnGui([gadget] { return GadgetRecord(gadget)->view; });
    }
    std::string Text(int64_t gadget) {
        return OnGui([this, gadget] { return platform.viewText(GadgetRecord(gadget)->view); });
    }
    int64_t State(int64_t gadget) {
        return OnGui([gadget] { return GetGadgetState(gadget); });
    }
    bool Enabled(int64_t gadget) {
        return OnGui([gadget] { return GadgetRecord(gadget)->view->enabled; });
    }
    void Click(int64_t gadget) {
        OnGui([this, gadget] { platform.click(GadgetRecord(gadget)->view); });
    }
    // The user replaces the port text (digits pass the field's filter).
    void TypePort(const std::string& text) {
        OnGui([this, text] { platform.editText(GadgetRecord(PortField)->view, text); });
    }
    void SetPortText(const std::string& text) {
        OnGui([text] { SetGadgetText(PortField, text.c_str()); });
    }
    bool WorkerRunning() {
        return OnGui([] { return TrackingWorkerRunning(); });
    }
    void PressClose() {
        OnGui([this] { platform.pressCloseButton(WindowHandle(MainWindow)); });
    }
    void ChooseQuit() {
        OnGui([this] { platform.chooseAppMenuItem(PlatformAppMenuItem::Quit); });
    }

    // Starts tracking against server and returns the accepted client socket.
    int StartTracking(LoopbackServer& server) {
        TypePort(std::to_string(server.port()));
        Click(StartButton);
        return server.Accept();
    }

    // Sends bytes and waits until the worker has produced count scripts in all.
    bool SendAndWaitForScripts(int client, const std::string& bytes, size_t count) {
        return SendAll(client, bytes) && WaitFor([count] { return ScriptCount() >= count; });
    }

    FakePlatform platform;

  private:
    fs::path root_;
    fs::path previousDirectory_;
};

TEST_F(TrackerTest, PositionsReachTheLabelsAndTheViewerScript) {
    RunProgram([this] {
        LoopbackServer server;
        ASSERT_TRUE(server.ok());
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_FALSE(Enabled(ServerField));
        EXPECT_FALSE(Enabled(PortField));

        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        EXPECT_EQ(Text(LatitudeLabel), "48.117300");
        EXPECT_EQ(Text(LongitudeLabel), "11.516667");
        EXPECT_EQ(Script(0), ScriptFor("48.117300", "11.516667", "500"));

        ASSERT_TRUE(SendAndWaitForScripts(
            client, "$GPRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W*6A\r\n", 2));
        EXPECT_EQ(Text(LatitudeLabel), "-48.117300");
        EXPECT_EQ(Text(LongitudeLabel), "-11.516667");

        // Chunks that do not start with the exact tag change nothing.
        const char* ignored[] = {
            "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
            "$GPRMC,1,A,1111.111,N,02222.222,E*00\r\n",
            "$gprmc,123519,A,1111.111,N,02222.222,E,022.4,084.4,230394,003.1,W*6A\r\n",
            "\r\n$GPRMC,123519,A,1111.111,N,02222.222,E,022.4,084.4,230394,003.1,W*6A\r\n",
        };
        for (const char* chunk : ignored) {
            ASSERT_TRUE(SendAll(client, chunk));
            Settle();
            EXPECT_EQ(ScriptCount(), 2u) << chunk;
        }
        EXPECT_EQ(Text(LatitudeLabel), "-48.117300");

        // A sentence without a fix still counts: empty fields give 0.
        ASSERT_TRUE(SendAndWaitForScripts(client, "$GPRMC,,V,,,,,,,,,,N*53\r\n", 3));
        EXPECT_EQ(Text(LatitudeLabel), "0");
        EXPECT_EQ(Script(2), ScriptFor("0", "0", "500"));

        // More than 128 bytes waiting: two chunks, each judged on its own.
        std::string first = kExampleSentence;
        first.resize(128, ' ');
        ASSERT_TRUE(SendAndWaitForScripts(
            client, first + "$GPRMC,1,A,5130.1234,N,15112.12,E,1,1,1,1,W*00\r\n", 5));
        EXPECT_EQ(Script(3), ScriptFor("48.117300", "11.516667", "500"));
        EXPECT_EQ(Text(LatitudeLabel), "51.5020567");
        EXPECT_EQ(Text(LongitudeLabel), "151.20200");

        // A zero byte ends the chunk.
        ASSERT_TRUE(SendAndWaitForScripts(
            client, std::string("$GPRMC,1,A,4807.038,N\0,01131.000,E\r\n", 37), 6));
        EXPECT_EQ(Text(LatitudeLabel), "48.117300");
        EXPECT_EQ(Text(LongitudeLabel), "0");

        // The next script takes the distance the track bar shows now.
        OnGui([this] { platform.moveSlider(GadgetRecord(ZoomBar)->view, 12000); });
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 7));
        EXPECT_EQ(Script(6), ScriptFor("48.117300", "11.516667", "12000"));

        // The server goes away: the labels keep the last position.
        server.CloseClient(client);
        Settle();
        EXPECT_EQ(Text(LatitudeLabel), "48.117300");

        // Stop: the button and fields return to idle and the worker ends within a cycle.
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Start");
        EXPECT_TRUE(Enabled(ServerField));
        EXPECT_TRUE(Enabled(PortField));
        EXPECT_TRUE(WaitFor([this] { return !WorkerRunning(); }, 200));
        EXPECT_EQ(Text(LatitudeLabel), "48.117300");
        PressClose();
    });
}

TEST_F(TrackerTest, PortsOutsideTheRangeAreRefused) {
    RunProgram([this] {
        for (const char* port : {"0", "65536", "", "abc", "-80", "18446744073709551616"}) {
            const size_t alerts = OnGui([this] { return platform.alerts.size(); });
            SetPortText(port);
            Click(StartButton);
            ASSERT_EQ(OnGui([this] { return platform.alerts.size(); }), alerts + 1) << port;
            const FakeAlert alert = OnGui([this] { return platform.alerts.back(); });
            EXPECT_EQ(alert.title, "Invalid Port");
            EXPECT_EQ(alert.text, "Please select a port in the range 1-65535");
            EXPECT_EQ(State(StartButton), 0) << port;
            EXPECT_EQ(Text(StartButton), "Start") << port;
            EXPECT_TRUE(Enabled(PortField)) << port;
            EXPECT_FALSE(WorkerRunning()) << port;
        }
        // Leading zeros are fine; nothing listens on that port here, which is no error either.
        SetPortText("00080");
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_EQ(State(StartButton), 1);
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Start");
        ChooseQuit();
    });
}

TEST_F(TrackerTest, EditingAFieldStopsAndAboutShowsTheRequester) {
    RunProgram([this] {
        TypePort("4001");
        EXPECT_EQ(Text(StartButton), "Start");
        EXPECT_EQ(TrackingRunning.load(), 0);
        OnGui([this] { platform.chooseAppMenuItem(PlatformAppMenuItem::About); });
        const FakeAlert alert = OnGui([this] { return platform.alerts.back(); });
        EXPECT_EQ(alert.title, "About Navlume");
        EXPECT_EQ(alert.text, kAboutText);
        ChooseQuit();
    });
}

TEST_F(TrackerTest, StartRightAfterStopNeverRunsTwoWorkers) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        HoldScripts(true);  // the worker's script run hangs
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));

        Click(StartButton);  // Stop
        Click(StartButton);  // Start again while the old worker is still inside its run
        EXPECT_EQ(Text(StartButton), "Start");
        EXPECT_EQ(State(StartButton), 0);
        EXPECT_FALSE(server.Accept() >= 0);  // no second connection was made

        HoldScripts(false);
        EXPECT_TRUE(WaitFor([this] { return !WorkerRunning(); }));
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_GE(server.Accept(), 0);
        ChooseQuit();
    });
}

TEST_F(TrackerTest, QuitEndsPromptlyWhileTheConnectHangs) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    Clock::time_point quitAt;
    RunProgram([&] {
        TypePort(std::to_string(server.port()));
        Click(StartButton);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(WorkerRunning());
        quitAt = Clock::now();
        ChooseQuit();
    });
    EXPECT_LT(Clock::now() - quitAt, std::chrono::milliseconds(500));
}

TEST_F(TrackerTest, QuitEndsPromptlyWhileAScriptHangs) {
    const fs::path runner =
        fs::temp_directory_path() / ("navlume-hang-" + std::to_string(getpid()));
    {
        std::ofstream script(runner);
        script << "#!/bin/sh\nexec sleep 30\n";
    }
    fs::permissions(runner, fs::perms::owner_all);
    hangingRunner = runner.string();
    SetScriptRunner(RunHangingScript);

    Clock::time_point quitAt;
    RunProgram([&] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(SendAll(client, kExampleSentence));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the runner is started
        quitAt = Clock::now();
        PressClose();
    });
    EXPECT_LT(Clock::now() - quitAt, std::chrono::milliseconds(500));
    fs::remove(runner);
}

TEST_F(TrackerTest, SettingsAreCreatedSavedOnCloseAndNotOnQuit) {
    // First run: the file is made with the built-in values.
    RunProgram([this] { PressClose(); });
    const std::string firstRun = "[Server]\nServer = 127.0.0.1\nPort = 10000\n[GE]\nZoom = 500\n";
    EXPECT_EQ(SettingsText(), firstRun);

    // Changes are stored by the close button.
    RunProgram([this] {
        OnGui([] { SetGadgetState(ServerField, MakeIPv4Address(192, 168, 1, 20)); });
        TypePort("4001");
        OnGui([this] { platform.moveSlider(GadgetRecord(ZoomBar)->view, 12000); });
        PressClose();
    });
    EXPECT_EQ(SettingsText(), "[Server]\nServer = 192.168.1.20\nPort = 4001\n[GE]\nZoom = 12000\n");

    // The next start shows them; Quit stores nothing.
    RunProgram([this] {
        EXPECT_EQ(Text(ServerField), "192.168.1.20");
        EXPECT_EQ(Text(PortField), "4001");
        EXPECT_EQ(State(ZoomBar), 12000);
        TypePort("5555");
        ChooseQuit();
    });
    EXPECT_EQ(SettingsText(), "[Server]\nServer = 192.168.1.20\nPort = 4001\n[GE]\nZoom = 12000\n");
}

struct StoredServerCase {
    const char* stored;
    const char* shown;
};

TEST_F(TrackerTest, StoredServerTextsCarryAndFill) {
    const StoredServerCase cases[] = {
        {"10.1", "10.1.0.0"}, {"256.1.1.1", "0.2.1.1"}, {"-1", "255.255.255.255"},
        {"names", "0.0.0.0"}, {"", "0.0.0.0"},
    };
    for (const auto& c : cases) {
        {
            std::ofstream file(SettingsPath(), std::ios::binary | std::ios::trunc);
            file << "[server]\nSERVER = " << c.stored << "\nport = 4001x\n";
        }
        RunProgram([this, &c] {
            EXPECT_EQ(Text(ServerField), c.shown) << c.stored;
            EXPECT_EQ(Text(PortField), "4001x");
            ChooseQuit();
        });
    }
}

}  // namespace
