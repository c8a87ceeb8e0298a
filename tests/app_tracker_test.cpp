// The tracker in one process, a driver thread as the user; then the worker's and viewer's pace.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "app/globe_kml.h"
#include "app/navlume.h"
#include "app/position_pace.h"
#include "app/program_values.h"
#include "app/tracking_control.h"
#include "app/tracking_worker.h"
#include "app/viewer_feed.h"
#include "runtime/network.h"
#include "runtime/number_text.h"
#include "runtime/temp_buffer.h"
#include "runtime/threads.h"
#include "tests/support/fake_platform.h"
#include "tests/support/loopback_server.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/test_data.h"
#include "ui/platform/marble_link.h"
#include "ui/platform/script_runner.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Move = std::tuple<double, double, int32_t>;  // latitude, longitude, zoom

// What the recording runner and mover were given; a run lasts runMs, and while held waits.
struct Recorded {
    std::mutex mutex;
    std::condition_variable changed;
    Strings scripts;
    std::vector<Move> moves;
    bool hold = false;
    int runMs = 0;
} recorded;

char* RecordScript(const char* source, int64_t start) {
    std::unique_lock<std::mutex> lock(recorded.mutex);
    recorded.scripts.emplace_back(source);
    recorded.changed.wait_for(lock, milliseconds(recorded.runMs), [] { return false; });
    recorded.changed.wait_for(lock, std::chrono::seconds(5), [] { return !recorded.hold; });
    return TempEmptyAt(start);
}

void RecordMarbleMove(double longitude, double latitude, int32_t zoom) {
    std::lock_guard<std::mutex> lock(recorded.mutex);
    recorded.moves.emplace_back(latitude, longitude, zoom);
}

void SetScriptRuns(bool hold, int runMs = 0) {
    std::lock_guard<std::mutex> lock(recorded.mutex);
    recorded.hold = hold;
    recorded.runMs = runMs;
    recorded.changed.notify_all();
}

void ClearRecorded() {
    SetScriptRuns(false);
    std::lock_guard<std::mutex> lock(recorded.mutex);
    recorded.scripts.clear();
    recorded.moves.clear();
}

template <typename T>
T Locked(const T& value) {
    std::lock_guard<std::mutex> lock(recorded.mutex);
    return value;
}
Strings Scripts() {
    return Locked(recorded.scripts);
}

// "latitude longitude" as lines 3 and 4 of a viewer script (by default the last one) name them.
std::string PositionOfScript(std::string script = "") {
    if (script.empty() && !Scripts().empty()) script = Scripts().back();
    const auto value = [&script](const std::string& prefix) {
        const size_t at = script.find(prefix);
        if (at == std::string::npos) return std::string();
        return script.substr(at + prefix.size(), script.find("\r\n", at) - at - prefix.size());
    };
    return value("latitude of viewInfo To ") + " " + value("longitude of viewInfo To ");
}

// One move per viewer script so far, to its position at zoom: the viewer gives both the same.
std::vector<Move> MovesOfScripts(int32_t zoom) {
    std::vector<Move> moves;
    for (const std::string& script : Scripts()) {
        const std::string position = PositionOfScript(script);
        moves.emplace_back(TextToFloat(position.c_str()),
                           TextToFloat(position.c_str() + position.find(' ')), zoom);
    }
    return moves;
}

class TrackerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        fs::create_directories(BundleContents() / "MacOS");
        platform.executable = (BundleContents() / "MacOS/Navlume").string();
        SetUiPlatform(&platform);
        SetScriptRunner(RecordScript);
        SetPositionFileEvery(0);  // each position is read back from the file at once
        SetMarbleMover(RecordMarbleMove);
        ClearRecorded();
    }
    void TearDown() override {
        ViewerClose();
        EXPECT_TRUE(ViewerStop(5000));
        fs::current_path(previousDirectory_);
        SetTrackingLimits({});
        SetScriptRunner(nullptr);
        SetPositionFileEvery(kPositionFileEveryMs);
        SetMarbleMover(nullptr);
        SetUiPlatform(nullptr);
    }
    fs::path BundleContents() const { return root_ / "Navlume.app/Contents"; }
    fs::path SettingsPath() const { return BundleContents() / "settings.cfg"; }
    std::string Kml() const { return ReadBytes(BundleContents() / kPositionKmlFile); }
    Strings Trail() const {  // the points after the placemark's
        const auto lists = test_data::KmlCoordinates(Kml());
        return lists.size() == 2 ? lists[1] : Strings{};
    }
    // Runs the program while driver plays the user on another thread, then chooses Quit.
    void RunProgram(const std::function<void()>& driver) {
        std::thread user([this, &driver] {
            driver();
            platform.queueUserAction(
                [this] { platform.chooseAppMenuItem(PlatformAppMenuItem::Quit); });
        });
        EXPECT_EQ(NavlumeMain(), 0);
        EXPECT_EQ(WindowHandle(MainWindow), nullptr) << "the program kept its layers";
        user.join();
        platform.discardPendingActions();
    }
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
    // Start's text and state, fields enabled, the worker: "Start 0 fields 11 idle" when idle.
    std::string Controls() {
        return OnGui([this] {
            return platform.viewText(View(StartButton)) + " " +
                   std::to_string(GetGadgetState(StartButton)) + " fields " +
                   std::to_string(View(ServerField)->enabled) +
                   std::to_string(View(PortField)->enabled) +
                   (TrackingWorkerRunning() ? " running" : " idle");
        });
    }
    // The user's hand (typed digits pass the port field's filter).
    void Click(int64_t gadget) {
        OnGui([this, gadget] { platform.click(View(gadget)); });
    }
    void TypePort(const std::string& text) {
        OnGui([this, text] { platform.editText(View(PortField), text); });
    }
    void PressClose() {
        OnGui([this] { platform.pressCloseButton(WindowHandle(MainWindow)); });
    }
    void StartTracking(int32_t port) {
        TypePort(std::to_string(port));
        Click(StartButton);
    }
    int StartTracking(LoopbackServer& server) {
        StartTracking(server.port());
        return server.Accept();
    }
    // Until the title is prefix, or (whole false) starts with it.
    bool WaitForTitle(const std::string& prefix, bool whole = true) {
        return WaitFor([&] { return whole ? Title() == prefix : Title().starts_with(prefix); });
    }
    static void Settle() { std::this_thread::sleep_for(milliseconds(80)); }
    FakePlatform platform;

  private:
    ScratchDirectory scratch_;
    const fs::path root_ = scratch_.Path();
    const fs::path previousDirectory_ = fs::current_path();
};

// Reconnection pauses of 0.2, 0.4, 0.8, then 1.6 s.
constexpr TrackingLimits kQuickPauses{.firstPauseMs = 200, .longestPauseMs = 1600};

constexpr const char* kExampleSentence =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";
constexpr const char* kSydney = "$GPRMC,1,A,3351.6234,S,15112.12,E\r\n";
constexpr const char* kSydneyLabels = "-33.8603900 151.20200";

bool SendAndWaitForScripts(int client, const std::string& bytes, size_t count) {
    return SendAll(client, bytes) && WaitFor([count] { return Scripts().size() >= count; });
}

TEST_F(TrackerTest, PositionsReachTheLabelsTheViewerScriptAndTheKmlFile) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        EXPECT_EQ(Controls(), "Stop 1 fields 00 running");
        const std::string name = "127.0.0.1:" + std::to_string(server.port());
        EXPECT_TRUE(WaitForTitle("Navlume - connected to " + name + ", waiting for a position"));
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        EXPECT_EQ(Labels(), "48.117300 11.516667");
        EXPECT_TRUE(test_data::MatchesGolden("viewer-script", Scripts()[0]));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        // KML viewers get the same position beside the settings, and a link file to follow.
        EXPECT_TRUE(test_data::MatchesGolden("navlume-position.kml", Kml()));
        EXPECT_TRUE(fs::is_regular_file(BundleContents() / kNetworkLinkKmlFile));
        EXPECT_EQ(Locked(recorded.moves), (std::vector<Move>{{48.1173, 11.516667, 3018}}));
        // A sentence in pieces, behind another sentence in the same write, field 7 last.
        ASSERT_TRUE(SendAll(client, "$GPGGA,1,4807.038,N,01131.000,E,1,08*4B\r\n$GPRMC,1,A,48"));
        Settle();
        EXPECT_EQ(Scripts().size(), 1u);
        ASSERT_TRUE(SendAndWaitForScripts(client, "07.038,S,01131.000,W*0D\r\n", 2));
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");
        EXPECT_EQ(Scripts()[1], test_data::GoldenScript("-48.117300", "-11.516667", "500"));
        // What is not a usable position changes nothing, and the labels keep the last one.
        ASSERT_TRUE(SendAll(client, std::string("$gprmc,1,A,1111.111,N,02222.222,E\r\n"
                                                "$GPRMC,,V,,,,,,,,,,N*53\r\n"
                                                "$GPRMC,1,A,1111.111,N,02222.222,E*00\r\n"
                                                "$GPRMC,1,A,1111.111,N\0,02222.222,E\r\n",
                                                134)));
        Settle();
        EXPECT_EQ(Scripts().size(), 2u);
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");
        // The next script takes the distance the track bar shows now.
        OnGui([this] { platform.moveSlider(View(ZoomBar), 12000); });
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 3));
        EXPECT_EQ(Scripts()[2], test_data::GoldenScript("48.117300", "11.516667", "12000"));
        EXPECT_EQ(Locked(recorded.moves), (std::vector<Move>{{48.1173, 11.516667, 3018},
                                                             {-48.1173, -11.516667, 3018},
                                                             {48.1173, 11.516667, 2382}}));
        EXPECT_EQ(Trail(), (Strings{"11.516667,48.117300,0", "-11.516667,-48.117300,0",
                                    "11.516667,48.117300,0"}));
        server.CloseClient(client);
        EXPECT_TRUE(
            WaitForTitle("Navlume - connection to " + name + " lost, retrying in 0.", false));
        Click(StartButton);
        EXPECT_TRUE(WaitFor([this] { return Controls() == "Start 0 fields 11 idle"; }));
        EXPECT_EQ(Title() + " " + Labels(), "Navlume 48.117300 11.516667");
        PressClose();
    });
}

// Directories in the KML files' place: no temporary file is left behind either.
TEST_F(TrackerTest, UnwritableKmlFilesLeaveTrackingAlone) {
    fs::create_directories(BundleContents() / kPositionKmlFile);
    fs::create_directories(BundleContents() / kNetworkLinkKmlFile);
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAndWaitForScripts(client, kSydney, 2));
        EXPECT_EQ(Labels(), kSydneyLabels);
    });
    for (const auto& entry : fs::directory_iterator(BundleContents()))
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
    EXPECT_TRUE(fs::is_empty(BundleContents() / kPositionKmlFile));
}

TEST_F(TrackerTest, PortsOutsideTheRangeAreRefusedAndAboutShowsItsRequester) {
    RunProgram([this] {
        const auto lastAlert = [this] {  // "count title: text"
            return OnGui([this] {
                const FakeAlert alert =
                    platform.alerts.empty() ? FakeAlert{} : platform.alerts.back();
                return std::to_string(platform.alerts.size()) + " " + alert.title + ": " +
                       alert.text;
            });
        };
        // The range's ends and leading zeros are fine, although nothing listens there.
        size_t alerts = 0;
        for (const std::string port :
             {"0", "65536", "", "abc", "-80", "18446744073709551616", "1", "65535", "00080"}) {
            const bool valid = port == "1" || port == "65535" || port == "00080";
            OnGui([port] { SetGadgetText(PortField, port.c_str()); });
            Click(StartButton);
            EXPECT_EQ(lastAlert(), std::to_string(valid ? alerts : ++alerts) +
                                       " Invalid Port: Please select a port in the range 1-65535");
            const char* controls = valid ? "Stop 1 fields 00 running" : "Start 0 fields 11 idle";
            EXPECT_TRUE(WaitFor([&] { return Controls() == controls; })) << port;
            if (valid && port != "00080") Click(StartButton);  // Stop
        }
        OnGui([this] { platform.chooseAppMenuItem(PlatformAppMenuItem::About); });
        EXPECT_EQ(lastAlert(), std::to_string(++alerts) +
                                   " About Navlume: https://navlume.example.org\n\n"
                                   "Settings and KML files are in:\n" +
                                   fs::canonical(BundleContents()).string());
    });
}

// A new run never shares the server with an old one, nor shows a position of a stopped run.
TEST_F(TrackerTest, AHangingViewerNeverLocksTracking) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        SetScriptRuns(true);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAll(client, kSydney));
        EXPECT_TRUE(WaitFor([this] { return Labels() == kSydneyLabels; }));
        Click(StartButton);  // Stop
        EXPECT_TRUE(WaitFor([this] { return Controls() == "Start 0 fields 11 idle"; }));
        Click(StartButton);  // Start again while the viewer still hangs
        const int second = server.Accept();
        ASSERT_GE(second, 0);
        char byte;
        EXPECT_EQ(recv(client, &byte, 1, 0), 0);  // the first connection was closed
        // Stop and Start in one go: the new run connects once the old worker closed its own.
        OnGui([this] {
            platform.click(View(StartButton));
            platform.click(View(StartButton));
        });
        EXPECT_EQ(Controls().substr(0, 16), "Stop 1 fields 00");
        const int third = server.Accept();
        ASSERT_GE(third, 0);
        EXPECT_EQ(recv(second, &byte, 1, MSG_DONTWAIT), 0);  // closed before the third came
        EXPECT_EQ(Controls(), "Stop 1 fields 00 running");
        ASSERT_TRUE(SendAll(third, "$GPRMC,1,A,3345.12345,S,15112.12,E\r\n"));
        EXPECT_TRUE(WaitFor([this] { return Labels() == "-33.75205750 151.20200"; }));
        SetScriptRuns(false);
        EXPECT_TRUE(WaitFor([] { return Scripts().size() == 2; }));
        Settle();
        EXPECT_EQ(Scripts().size(), 2u);
        EXPECT_EQ(PositionOfScript(), "-33.75205750 151.20200");
        EXPECT_EQ(Trail(), Strings{"151.20200,-33.75205750,0"});
    });
}

TEST_F(TrackerTest, QuitEndsPromptlyWhileTheConnectHangs) {
    SilentServer server;
    if (!server.Silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    Clock::time_point quitAt;
    RunProgram([&] {
        StartTracking(server.port());
        std::this_thread::sleep_for(milliseconds(100));
        EXPECT_EQ(Controls(), "Stop 1 fields 00 running");
        quitAt = Clock::now();  // RunProgram chooses Quit next
    });
    EXPECT_LT(Clock::now() - quitAt, milliseconds(500));
}

// The real runner on a viewer that never answers; no run starts after Stop, close or Quit.
TEST_F(TrackerTest, StopAndCloseEndAHangingScriptRun) {
    static fs::path runner;  // where a runner without captures finds it
    runner = BundleContents() / "hanging-osascript";
    const fs::path started = BundleContents() / "runs";
    std::ofstream(runner) << "#!/bin/sh\necho run >> '" << started.string() << "'\nexec sleep 30\n";
    fs::permissions(runner, fs::perms::owner_all);
    SetScriptRunner([](const char* source, int64_t start) {
        return RunScriptWith(runner.c_str(), source, start);
    });
    const auto runs = [&started] { return ReadBytes(started).size() / 4; };
    Clock::time_point pressedAt;
    RunProgram([&] {
        LoopbackServer server;
        for (size_t run = 1; run <= 2; ++run) {
            ASSERT_TRUE(SendAll(StartTracking(server), kExampleSentence));
            ASSERT_TRUE(WaitFor([&] { return runs() == run; }));
            pressedAt = Clock::now();
            run == 1 ? Click(StartButton) : PressClose();
            EXPECT_LT(Clock::now() - pressedAt, milliseconds(500));
        }
    });
    EXPECT_LT(Clock::now() - pressedAt, milliseconds(500));
    Settle();
    EXPECT_EQ(runs(), 2u);
    // Quit while a run hangs and the next position waits: that one never reaches a runner.
    RunProgram([&] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_TRUE(SendAll(client, kExampleSentence));
        ASSERT_TRUE(WaitFor([&] { return runs() == 3; }));
        ASSERT_TRUE(SendAll(client, kSydney));
        ASSERT_TRUE(WaitFor([this] { return Labels() == kSydneyLabels; }));
        pressedAt = Clock::now();  // then Quit
    });
    EXPECT_LT(Clock::now() - pressedAt, milliseconds(500));
    Settle();
    EXPECT_EQ(runs(), 3u);
}

TEST_F(TrackerTest, SettingsAreCreatedSavedOnCloseAndNotOnQuit) {
    RunProgram([this] { PressClose(); });
    EXPECT_TRUE(test_data::MatchesGolden("first-run-settings.cfg", ReadBytes(SettingsPath())));
    RunProgram([this] {
        OnGui([] { SetGadgetState(ServerField, MakeIPv4Address(192, 168, 1, 20)); });
        TypePort("4001");
        OnGui([this] { platform.moveSlider(View(ZoomBar), 12000); });
        PressClose();
    });
    const std::string saved = test_data::Replaced(
        test_data::Golden("first-run-settings.cfg"),
        {{"= 127.0.0.1", "= 192.168.1.20"}, {"= 10000", "= 4001"}, {"= 500", "= 12000"}});
    EXPECT_EQ(ReadBytes(SettingsPath()), saved);
    // The next start shows them; Quit stores nothing.
    RunProgram([this] {
        EXPECT_EQ(Text(ServerField) + " " + Text(PortField), "192.168.1.20 4001");
        EXPECT_EQ(OnGui([] { return GetGadgetState(ZoomBar); }), 12000);
        TypePort("5555");
    });
    EXPECT_EQ(ReadBytes(SettingsPath()), saved);
}

TEST_F(TrackerTest, StoredServerTextsCarryAndFill) {
    // Stored text, shown text.
    const char* cases[] = {"10.1",  "10.1.0.0", "256.1.1.1", "0.2.1.1", "-1", "255.255.255.255",
                           "names", "0.0.0.0",  "",          "0.0.0.0"};
    for (size_t i = 0; i < std::size(cases); i += 2) {
        std::ofstream(SettingsPath()) << "[server]\nSERVER = " << cases[i] << "\nport = 4001x\n";
        RunProgram([&] {
            EXPECT_EQ(Text(ServerField) + " " + Text(PortField),
                      cases[i + 1] + std::string(" 4001x"));
        });
    }
}

// Scripts from index first on show an in-order part of positions ending with its last (skips).
::testing::AssertionResult ScriptsFollow(size_t first, const Strings& positions) {
    auto next = positions.begin();
    std::string last;
    const Strings scripts = Scripts();
    for (size_t i = first; i < scripts.size(); ++i) {
        last = PositionOfScript(scripts[i]);
        next = std::find(next, positions.end(), last);
        if (next == positions.end())
            return ::testing::AssertionFailure() << "script " << i << " shows " << last;
        ++next;
    }
    if (positions.empty() || last != positions.back())
        return ::testing::AssertionFailure() << "the last script shows '" << last << "'";
    return ::testing::AssertionSuccess();
}

// A log's stream in writes of the sizes next gives, or (null) one burst up to each RMC.
Strings Writes(const std::string& log, const std::function<size_t()>& next) {
    const std::string stream = test_data::StreamOfLog(log);
    Strings writes;
    for (size_t at = 0; at < stream.size(); at += writes.back().size()) {
        const size_t rmc = next ? 0 : stream.find("RMC,", at);  // none: the rest is one burst
        const size_t end = std::min(stream.find('\n', rmc), stream.size() - 1);
        writes.push_back(stream.substr(at, next ? next() : end + 1 - at));
    }
    return writes;
}

TEST_F(TrackerTest, RealReceiversInEveryDeliveryShape) {
    std::mt19937 random(11);
    const std::pair<const char*, std::function<size_t()>> shapes[] = {
        {"one burst per receiver second", nullptr},
        {"random pieces of 1-40 bytes", [&random] { return size_t{1} + random() % 40; }},
        {"64 KiB bursts", [] { return size_t{65536}; }},
        {"one byte per write", [] { return size_t{1}; }}};
    RunProgram([&] {
        LoopbackServer server;
        for (const char* log : {"quectel-l76k-nmea.log", "sirfstarv-nmea.log"}) {
            const Strings positions = test_data::CheckedPositions(log);
            for (const auto& [shape, next] : shapes) {
                // A byte per write is slow to send; the shorter log shows it as well.
                if (shape == shapes[3].first && std::string(log) != "sirfstarv-nmea.log") continue;
                SCOPED_TRACE(std::string(log) + ", " + shape);
                const size_t first = Scripts().size();
                const int client = StartTracking(server);
                for (const std::string& write : Writes(log, next)) {
                    ASSERT_TRUE(SendAll(client, write));
                    if (!next) std::this_thread::sleep_for(milliseconds(10));
                }
                ASSERT_TRUE(WaitFor([&] {
                    return Scripts().size() > first && PositionOfScript() == positions.back();
                }));
                EXPECT_EQ(Labels(), positions.back());
                Click(StartButton);  // Stop
                EXPECT_TRUE(ScriptsFollow(first, positions));
                server.CloseClient(client);
            }
        }
        // A receiver without a fix moves nothing.
        const size_t scripts = Scripts().size();
        ASSERT_TRUE(SendAll(StartTracking(server), test_data::StreamOfLog("GPSmap-76S.log")));
        Settle();
        EXPECT_EQ(Scripts().size(), scripts);
    });
}

TEST_F(TrackerTest, AServerThatIsNotUpYetIsTriedAgainAndStopEndsTheWait) {
    const int32_t port = LoopbackServer().port();  // nothing listens there once it is gone
    const std::string name = "127.0.0.1:" + std::to_string(port);
    SetTrackingLimits(kQuickPauses);
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitForTitle("Navlume - cannot connect to " + name + ", retrying in ", false));
        std::this_thread::sleep_for(milliseconds(400));
        LoopbackServer server(port);
        ASSERT_TRUE(server.Ok());
        EXPECT_GE(server.Accept(2000), 0);
        EXPECT_TRUE(WaitForTitle("Navlume - connected to " + name + ", waiting for a position"));
    });
    // A pause only the wake-up can cut short, also as descriptor 0 (no standard input).
    SetTrackingLimits({.firstPauseMs = 5000, .longestPauseMs = 5000});
    const int input = dup(0);
    close(0);
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitForTitle("Navlume - cannot connect to ", false));
        std::this_thread::sleep_for(milliseconds(50));  // inside the pause, Stop
        Click(StartButton);
        // Far less than the pause has left, so a pause that Stop does not cut short fails.
        EXPECT_TRUE(WaitFor(
            [&] { return Controls() + " " + Title() == "Start 0 fields 11 idle Navlume"; }, 250))
            << Controls() << " " << Title();
    });
    dup2(input, 0);
    close(input);
}

// Closed at once: attempts at 0, 0.2, 0.4 and 0.8 s (each up to a tenth longer), 3 in 1.3 s.
TEST_F(TrackerTest, ReconnectsNeverComeFasterThanThePauses) {
    SetTrackingLimits(kQuickPauses);
    RunProgram([this] {
        LoopbackServer server;
        const Clock::time_point end = Clock::now() + milliseconds(1300);
        StartTracking(server.port());
        int attempts = 0;
        const auto left = [&] { return std::max<int>(0, (end - Clock::now()) / milliseconds(1)); };
        for (int client; (client = server.Accept(left())) >= 0; ++attempts)
            server.CloseClient(client);
        EXPECT_EQ(attempts, 3);
    });
}

// The silence limit shortened to 0.3 s; the end-to-end test sees the real 15 s.
TEST_F(TrackerTest, ASilentServerIsLeftAfterTheSilenceLimit) {
    static constexpr int32_t kSilenceMs = 300;
    SetTrackingLimits({.silenceMs = kSilenceMs});
    RunProgram([this] {
        LoopbackServer server;
        const std::string name = "127.0.0.1:" + std::to_string(server.port());
        ASSERT_GE(StartTracking(server), 0);
        const Clock::time_point connected = Clock::now();
        EXPECT_TRUE(
            WaitForTitle("Navlume - no data from " + name + " for 0.3 s, retrying in ", false));
        EXPECT_GE(server.Accept(3000), 0);
        EXPECT_GE(Clock::now() - connected, milliseconds(kSilenceMs));
    });
}

// A burst every 20 ms against viewer runs of 60 ms: the labels keep up, the viewer skips.
TEST_F(TrackerTest, ASlowViewerGetsTheNewestPositionNeverABacklog) {
    constexpr int kRunMs = 60;
    SetScriptRuns(false, kRunMs);
    const char* log = "sirfstarv-nmea.log";
    Strings positions = test_data::CheckedPositions(log);
    ASSERT_FALSE(positions.empty());
    // The log stands still (one trail point), then steps of 0.1' (185 m, each a point) north-east.
    Strings tuples{positions[0].substr(positions[0].find(' ') + 1) + "," +
                   positions[0].substr(0, positions[0].find(' ')) + ",0"};
    Strings writes = Writes(log, nullptr);
    for (int tenths = 100; tenths < 150; ++tenths) {
        const std::string minutes = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
        writes.push_back("$GPRMC,1,A,48" + minutes + ",N,011" + minutes + ",E\r\n");
        char latitude[16], longitude[16];
        std::snprintf(latitude, sizeof latitude, "%.4f", 48 + tenths / 600.0);
        std::snprintf(longitude, sizeof longitude, "%.4f", 11 + tenths / 600.0);
        positions.push_back(std::string(latitude) + " " + longitude);
        tuples.push_back(std::string(longitude) + "," + latitude + ",0");
    }
    RunProgram([&] {
        LoopbackServer server;
        const int client = StartTracking(server);
        const Clock::time_point sentFirst = Clock::now();
        for (const std::string& write : writes) {
            ASSERT_TRUE(SendAll(client, write));
            std::this_thread::sleep_for(milliseconds(20));
        }
        EXPECT_TRUE(WaitFor([&] { return Labels() == positions.back(); }));
        // The last position follows the last sentence closely (a run or two), then nothing follows.
        const Clock::time_point sentLast = Clock::now();
        EXPECT_TRUE(WaitFor([&] { return PositionOfScript() == positions.back(); }));
        EXPECT_LE(Clock::now() - sentLast, milliseconds(1000));  // a backlog would take seconds
        Settle();
        EXPECT_LE(Scripts().size(), size_t((Clock::now() - sentFirst) / milliseconds(kRunMs)) + 1);
        EXPECT_TRUE(ScriptsFollow(0, positions));
        EXPECT_EQ(Locked(recorded.moves), MovesOfScripts(3018));
        // The trail has every position, also those the viewer skipped, in order.
        EXPECT_EQ(Trail(), tuples);
    });
}

// gpsd greets with JSON and sends NMEA only when asked; gpsfake comes with scripts/install-deps.
constexpr const char* kGpsfake = "/usr/bin/gpsfake";

TEST_F(TrackerTest, FollowsARealGpsd) {
    ASSERT_EQ(access(kGpsfake, X_OK), 0) << "gpsfake is missing: bash scripts/install-deps";
    const int32_t port = LoopbackServer().port();  // a free port, given to gpsd
    const fs::path replayed = BundleContents() / "replayed.log", output = BundleContents() / "out";
    std::ofstream(replayed, std::ios::binary) << test_data::StreamOfLog("quectel-l76k-nmea.log");
    // gpsfake and its gpsd loop the log in a process group: gpsd outlives a killed gpsfake.
    const std::string command = "exec " + std::string(kGpsfake) + " -P " + std::to_string(port) +
                                " -q -n -c 0.013 '" + replayed.string() + "' </dev/null >'" +
                                output.string() + "' 2>&1";
    const std::string temporary = "TMPDIR=" + BundleContents().string();
    const char* environment[] = {"PATH=/usr/sbin:/usr/bin:/bin", temporary.c_str(), nullptr};
    const pid_t gpsfake = fork();
    if (gpsfake == 0) {
        setpgid(0, 0);
        execle("/bin/sh", "sh", "-c", command.c_str(), nullptr, environment);
        _exit(127);
    }
    ASSERT_GT(gpsfake, 0);
    setpgid(gpsfake, gpsfake);  // before the kill below, whichever of the two runs first
    // The worker keeps trying to connect until gpsd is up, as it would for a late receiver.
    const Strings positions = test_data::CheckedPositions("quectel-l76k-nmea.log");
    const auto isLoggedPosition = [&positions](const std::string& position) {
        return std::ranges::find(positions, position) != positions.end();
    };
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitFor([&] { return isLoggedPosition(Labels()); }, 25000))
            << Labels() << "; " << Title() << "; gpsfake: " << ReadBytes(output);
        EXPECT_TRUE(WaitFor([&] { return Scripts().size() > 0; }));
        EXPECT_TRUE(isLoggedPosition(PositionOfScript()));
        EXPECT_TRUE(WaitForTitle("Navlume"));
    });
    // gpsfake may hang in its own SIGTERM handler: the whole group is killed at once.
    kill(-gpsfake, SIGKILL);
    waitpid(gpsfake, nullptr, 0);
}

TEST(PositionPaceTest, TheGapAfterAPositionLastsUntilShortlyBeforeTheNextIsDue) {
    // Spans between receives of positions (negative: that receive brought two), the gap, why.
    const std::tuple<std::vector<int>, int32_t, const char*> cases[] = {
        {{}, 80, "no pace before two spans"},
        {{150}, 80, "one span may be a position that came late"},
        {{150, 150}, 120, "150 ms pace, woken 30 ms before"},
        {{150, 300}, 120, "a missed fix does not double the gap"},
        {{300, 150}, 120, "the shorter of the last two spans"},
        {{100, 100}, 80, "never shorter than the shortest gap"},
        {{1000, 1000}, 970, "1 Hz"},
        {{1030, 1030}, 1000, "the longest gap"},
        {{1031, 1031}, 80, "a slower pace is not waited out"},
        {{1000, 1000, 2000}, 970, "one long span after a steady pace"},
        {{1000, 2000, 2000}, 80, "the pace slowed down for good"},
        {{1000, 1000, -970}, 80, "two at once: the pace quickened, and is learnt anew"},
        {{1000, 1000, -970, 200}, 80, "one span of the new pace is not enough"},
        {{1000, 1000, -970, 200, 200}, 170, "two are"},
    };
    for (const auto& [spansMs, gapMs, why] : cases) {
        PositionPace pace(80);
        PositionPace::Clock::time_point at{};
        pace.PositionsAt(at, 1);
        for (const int span : spansMs)
            pace.PositionsAt(at += milliseconds(std::abs(span)), span < 0 ? 2 : 1);
        EXPECT_EQ(pace.GapAfterPosition(), gapMs) << why;
    }
}

constexpr const char* kFirstPoint = "11.516667,48.117300,0";
constexpr const char* kSecondPoint = "-11.516667,-48.117300,0";

// The viewer thread on its own, its scripts recorded, in the bundle without the program.
using ViewerFileTest = TrackerTest;

void Post(const char* sentence) {
    Position position;
    ASSERT_TRUE(JudgeRmcLine(sentence, std::strlen(sentence), &position));
    ViewerPost(std::span<const Position>(&position, 1));
}

// A position waits for the file's time or the viewer's end; the placemark's point, the trail's.
TEST_F(ViewerFileTest, ASoonerPositionWaitsForItsTimeOrTheViewerEnd) {
    fs::current_path(BundleContents());
    ThreadLibraryInit();
    const std::vector<Strings> first{{kFirstPoint}, {kFirstPoint}};
    const std::vector<Strings> both{{kSecondPoint}, {kFirstPoint, kSecondPoint}};
    const auto points = [this] { return test_data::KmlCoordinates(Kml()); };
    for (const int32_t everyMs : {60000, 30}) {
        SetPositionFileEvery(everyMs);
        ClearRecorded();
        ASSERT_TRUE(ViewerStart());
        ASSERT_TRUE(ViewerStart());  // already running counts as started
        ViewerOpen();
        Post("$GPRMC,1,A,4807.038,N,01131.000,E");
        ASSERT_TRUE(WaitFor([] { return Scripts().size() == 1; }));
        EXPECT_EQ(points(), first);
        Post("$GPRMC,1,A,4807.038,S,01131.000,W");
        ASSERT_TRUE(WaitFor([] { return Scripts().size() == 2; }));
        // Either written when its time is up, or not yet.
        EXPECT_TRUE(everyMs == 30 ? WaitFor([&] { return points() == both; }) : points() == first);
        ViewerClose();
        ASSERT_TRUE(ViewerStop(5000));
        EXPECT_EQ(points(), both);
    }
}

}  // namespace
