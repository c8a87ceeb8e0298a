// The tracker's window, settings and Start/Stop control, end to end inside one process.
#include <sys/socket.h>

#include <algorithm>

#include "runtime/network.h"
#include "tests/support/tracker_fixture.h"
#include "ui/platform/script_runner.h"

namespace {

using namespace tracker_test;
using test_data::Golden;
using test_data::GoldenScript;

constexpr const char* kExampleSentence =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

// Sends bytes and waits until the viewer has had count scripts in all.
bool SendAndWaitForScripts(int client, const std::string& bytes, size_t count) {
    return SendAll(client, bytes) && WaitFor([count] { return ScriptCount() >= count; });
}

TEST_F(TrackerTest, PositionsReachTheLabelsTheViewerScriptAndTheKmlFile) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_FALSE(Enabled(ServerField) || Enabled(PortField));
        const std::string name = "127.0.0.1:" + std::to_string(server.port());
        EXPECT_TRUE(WaitForTitle("Navlume - connected to " + name + ", waiting for a position"));

        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        EXPECT_EQ(Labels(), "48.117300 11.516667");
        EXPECT_EQ(Script(0), Golden("viewer-script"));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        // KML viewers get the same position beside the settings, and a link file to follow.
        EXPECT_EQ(ReadFile(BundleContents() / "Navlume-position.kml"),
                  Golden("navlume-position.kml"));
        EXPECT_TRUE(fs::is_regular_file(BundleContents() / "Navlume.kml"));

        // A sentence in pieces, behind another sentence in the same write, field 7 last.
        ASSERT_TRUE(SendAll(client, "$GPGGA,1,4807.038,N,01131.000,E,1,08*4B\r\n$GPRMC,1,A,48"));
        Settle();
        EXPECT_EQ(ScriptCount(), 1u);
        ASSERT_TRUE(SendAndWaitForScripts(client, "07.038,S,01131.000,W*0D\r\n", 2));
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");
        EXPECT_EQ(Script(1), GoldenScript("-48.117300", "-11.516667", "500"));

        // What is not a usable position changes nothing, and the labels keep the last one.
        const std::string unusable[] = {"$gprmc,1,A,1111.111,N,02222.222,E\r\n",
                                        "$GPRMC,,V,,,,,,,,,,N*53\r\n",
                                        "$GPRMC,1,A,1111.111,N,02222.222,E*00\r\n",
                                        std::string("$GPRMC,1,A,1111.111,N\0,02222.222,E\r\n", 36)};
        for (const std::string& line : unusable)
            ASSERT_TRUE(SendAll(client, line));
        Settle();
        EXPECT_EQ(ScriptCount(), 2u);
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");

        // The next script takes the distance the track bar shows now.
        MoveZoomBar(12000);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 3));
        EXPECT_EQ(Script(2), GoldenScript("48.117300", "11.516667", "12000"));

        // Stop: the button and fields return to idle, the worker ends, the labels stay.
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Start");
        EXPECT_TRUE(Enabled(ServerField) && Enabled(PortField));
        EXPECT_FALSE(WorkerRunning());
        EXPECT_EQ(Title(), "Navlume");
        EXPECT_EQ(Labels(), "48.117300 11.516667");
        PressClose();
    });
}

// KML files that cannot be written (directories stand in their place) cost nothing but the
// files: labels and scripts go on, and no temporary file is left behind.
TEST_F(TrackerTest, UnwritableKmlFilesLeaveTrackingAlone) {
    fs::create_directories(BundleContents() / "Navlume-position.kml");
    fs::create_directories(BundleContents() / "Navlume.kml");
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAndWaitForScripts(client, "$GPRMC,1,A,5130.1234,N,15112.12,E\r\n", 2));
        EXPECT_EQ(Labels(), "51.5020567 151.20200");
        ChooseQuit();
    });
    for (const auto& entry : fs::directory_iterator(BundleContents()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    EXPECT_TRUE(fs::is_empty(BundleContents() / "Navlume-position.kml"));
}

// Ports outside 1-65535 are refused with a requester, as the About entry shows one.
TEST_F(TrackerTest, PortsOutsideTheRangeAreRefusedAndAboutShowsItsRequester) {
    RunProgram([this] {
        for (const char* port : {"0", "65536", "", "abc", "-80", "18446744073709551616"}) {
            const size_t alerts = OnGui([this] { return platform.alerts.size(); });
            SetPortText(port);
            Click(StartButton);
            ASSERT_EQ(OnGui([this] { return platform.alerts.size(); }), alerts + 1) << port;
            const FakeAlert alert = OnGui([this] { return platform.alerts.back(); });
            EXPECT_EQ(alert.title + ": " + alert.text,
                      "Invalid Port: Please select a port in the range 1-65535");
            EXPECT_EQ(State(StartButton), 0) << port;
            EXPECT_EQ(Text(StartButton), "Start") << port;
            EXPECT_FALSE(WorkerRunning()) << port;
        }
        // Leading zeros are fine; nothing listens on that port here, which is no error either.
        SetPortText("00080");
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_EQ(State(StartButton), 1);

        ChooseMenu(PlatformAppMenuItem::About);
        const FakeAlert alert = OnGui([this] { return platform.alerts.back(); });
        EXPECT_EQ(alert.title, "About Navlume");
        EXPECT_EQ(alert.text, kAboutText);
        ChooseQuit();
    });
}

// A viewer that hangs holds up neither the labels nor Stop and Start; a new run never shares the
// server with an old one, and the viewer never shows a position of a stopped run.
TEST_F(TrackerTest, AHangingViewerNeverLocksTracking) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        HoldScripts(true);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAll(client, "$GPRMC,1,A,5130.1234,N,15112.12,E\r\n"));
        EXPECT_TRUE(WaitForPosition("51.5020567 151.20200"));

        Click(StartButton);  // Stop
        EXPECT_FALSE(WorkerRunning());
        Click(StartButton);  // Start again while the viewer still hangs
        EXPECT_EQ(Text(StartButton), "Stop");
        const int second = server.Accept();
        ASSERT_GE(second, 0);
        char byte;
        EXPECT_EQ(recv(client, &byte, 1, 0), 0);  // the first connection was closed
        ASSERT_TRUE(SendAll(second, "$GPRMC,1,A,3345.12345,S,15112.12,E\r\n"));
        EXPECT_TRUE(WaitForPosition("-33.75205750 151.20200"));

        HoldScripts(false);
        EXPECT_TRUE(WaitFor([] { return ScriptCount() == 2; }));
        Settle();
        EXPECT_EQ(ScriptCount(), 2u);
        EXPECT_EQ(PositionOfScript(Script(-1)), "-33.75205750 151.20200");
        ChooseQuit();
    });
}

TEST_F(TrackerTest, QuitEndsPromptlyWhileTheConnectHangs) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    Clock::time_point quitAt;
    RunProgram([&] {
        StartTracking(server.port());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(WorkerRunning());
        quitAt = Clock::now();
        ChooseQuit();
    });
    EXPECT_LT(Clock::now() - quitAt, std::chrono::milliseconds(500));
}

// The real runner on a viewer that never answers: Stop ends the run (the next position starts a
// new one), and so does closing the window, promptly; no run starts after the close.
std::string hangingRunner;
char* RunHangingScript(const char* source, int64_t start) {
    return RunScriptWith(hangingRunner.c_str(), source, start);
}

TEST_F(TrackerTest, StopAndCloseEndAHangingScriptRun) {
    const fs::path runner = BundleContents() / "hanging-osascript";
    const fs::path started = BundleContents() / "runs";
    std::ofstream(runner) << "#!/bin/sh\necho run >> '" << started.string() << "'\nexec sleep 30\n";
    fs::permissions(runner, fs::perms::owner_all);
    hangingRunner = runner.string();
    SetScriptRunner(RunHangingScript);
    const auto runs = [&started] {
        const std::string text = ReadFile(started);
        return std::count(text.begin(), text.end(), '\n');
    };
    Clock::time_point closedAt;
    RunProgram([&] {
        LoopbackServer server;
        for (int run = 1; run <= 2; ++run) {
            const int client = StartTracking(server);
            ASSERT_TRUE(SendAll(client, kExampleSentence));
            ASSERT_TRUE(WaitFor([&] { return runs() == run; }));
            const Clock::time_point pressedAt = Clock::now();
            if (run == 2) break;
            Click(StartButton);  // Stop
            EXPECT_LT(Clock::now() - pressedAt, std::chrono::milliseconds(500));
        }
        closedAt = Clock::now();
        PressClose();
    });
    EXPECT_LT(Clock::now() - closedAt, std::chrono::milliseconds(500));
    Settle();
    EXPECT_EQ(runs(), 2);
}

TEST_F(TrackerTest, SettingsAreCreatedSavedOnCloseAndNotOnQuit) {
    RunProgram([this] { PressClose(); });
    EXPECT_EQ(ReadFile(SettingsPath()), Golden("first-run-settings.cfg"));

    RunProgram([this] {
        OnGui([] { SetGadgetState(ServerField, MakeIPv4Address(192, 168, 1, 20)); });
        TypePort("4001");
        MoveZoomBar(12000);
        PressClose();
    });
    const std::string saved = test_data::Replaced(
        Golden("first-run-settings.cfg"),
        {{"= 127.0.0.1", "= 192.168.1.20"}, {"= 10000", "= 4001"}, {"= 500", "= 12000"}});
    EXPECT_EQ(ReadFile(SettingsPath()), saved);

    // The next start shows them; Quit stores nothing.
    RunProgram([this] {
        EXPECT_EQ(Text(ServerField) + " " + Text(PortField), "192.168.1.20 4001");
        EXPECT_EQ(State(ZoomBar), 12000);
        TypePort("5555");
        ChooseQuit();
    });
    EXPECT_EQ(ReadFile(SettingsPath()), saved);
}

TEST_F(TrackerTest, StoredServerTextsCarryAndFill) {
    const std::pair<const char*, const char*> cases[] = {
        {"10.1", "10.1.0.0"}, {"256.1.1.1", "0.2.1.1"}, {"-1", "255.255.255.255"},
        {"names", "0.0.0.0"}, {"", "0.0.0.0"},
    };
    for (const auto& [stored, shown] : cases) {
        std::ofstream(SettingsPath(), std::ios::binary | std::ios::trunc)
            << "[server]\nSERVER = " << stored << "\nport = 4001x\n";
        const std::string expected = std::string(shown) + " 4001x";
        RunProgram([&] {
            EXPECT_EQ(Text(ServerField) + " " + Text(PortField), expected);
            ChooseQuit();
        });
    }
}

}  // namespace
