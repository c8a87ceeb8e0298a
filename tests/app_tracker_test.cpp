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
constexpr const char* kSydney = "$GPRMC,1,A,5130.1234,N,15112.12,E\r\n";

// Sends bytes and waits until the viewer has had count scripts in all.
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
        EXPECT_EQ(Scripts()[0], Golden("viewer-script"));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        // KML viewers get the same position beside the settings, and a link file to follow.
        EXPECT_EQ(ReadFile(BundleContents() / "Navlume-position.kml"),
                  Golden("navlume-position.kml"));
        EXPECT_TRUE(fs::is_regular_file(BundleContents() / "Navlume.kml"));

        // A sentence in pieces, behind another sentence in the same write, field 7 last.
        ASSERT_TRUE(SendAll(client, "$GPGGA,1,4807.038,N,01131.000,E,1,08*4B\r\n$GPRMC,1,A,48"));
        Settle();
        EXPECT_EQ(Scripts().size(), 1u);
        ASSERT_TRUE(SendAndWaitForScripts(client, "07.038,S,01131.000,W*0D\r\n", 2));
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");
        EXPECT_EQ(Scripts()[1], GoldenScript("-48.117300", "-11.516667", "500"));

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
        MoveZoomBar(12000);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 3));
        EXPECT_EQ(Scripts()[2], GoldenScript("48.117300", "11.516667", "12000"));

        // Stop: the button and fields return to idle, the worker ends, the labels stay.
        Click(StartButton);
        EXPECT_EQ(Controls(), "Start 0 fields 11 idle");
        EXPECT_EQ(Title() + " " + Labels(), "Navlume 48.117300 11.516667");
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
        ASSERT_TRUE(SendAndWaitForScripts(client, kSydney, 2));
        EXPECT_EQ(Labels(), "51.5020567 151.20200");
        ChooseMenu();
    });
    for (const auto& entry : fs::directory_iterator(BundleContents()))
        EXPECT_FALSE(entry.path().string().ends_with(".tmp")) << entry.path();
    EXPECT_TRUE(fs::is_empty(BundleContents() / "Navlume-position.kml"));
}

// Ports outside 1-65535 are refused with a requester, as the About entry shows one.
TEST_F(TrackerTest, PortsOutsideTheRangeAreRefusedAndAboutShowsItsRequester) {
    RunProgram([this] {
        const auto lastAlert = [this] {
            return OnGui([this] {
                const FakeAlert alert =
                    platform.alerts.empty() ? FakeAlert{} : platform.alerts.back();
                return std::to_string(platform.alerts.size()) + " " + alert.title + ": " +
                       alert.text;
            });
        };
        size_t alerts = 0;
        for (const char* port : {"0", "65536", "", "abc", "-80", "18446744073709551616", "00080"}) {
            OnGui([port] { SetGadgetText(PortField, port); });
            Click(StartButton);
            if (std::string(port) == "00080") break;
            EXPECT_EQ(lastAlert(), std::to_string(++alerts) +
                                       " Invalid Port: Please select a port in the range 1-65535");
            EXPECT_EQ(Controls(), "Start 0 fields 11 idle") << port;
        }
        // Leading zeros are fine; nothing listens on that port here, which is no error either.
        EXPECT_EQ(Controls(), "Stop 1 fields 00 running");
        ChooseMenu(PlatformAppMenuItem::About);
        EXPECT_EQ(lastAlert(), std::to_string(++alerts) + " About Navlume: " + kAboutText);
        ChooseMenu();
    });
}

// A viewer that hangs holds up neither the labels nor Stop and Start; a new run never shares the
// server with an old one, and the viewer never shows a position of a stopped run.
TEST_F(TrackerTest, AHangingViewerNeverLocksTracking) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        SetScriptRuns(true);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAll(client, kSydney));
        EXPECT_TRUE(WaitForPosition("51.5020567 151.20200"));

        Click(StartButton);  // Stop
        EXPECT_EQ(Controls(), "Start 0 fields 11 idle");
        Click(StartButton);  // Start again while the viewer still hangs
        const int second = server.Accept();
        ASSERT_GE(second, 0);
        char byte;
        EXPECT_EQ(recv(client, &byte, 1, 0), 0);  // the first connection was closed
        ASSERT_TRUE(SendAll(second, "$GPRMC,1,A,3345.12345,S,15112.12,E\r\n"));
        EXPECT_TRUE(WaitForPosition("-33.75205750 151.20200"));

        SetScriptRuns(false);
        EXPECT_TRUE(WaitFor([] { return Scripts().size() == 2; }));
        Settle();
        EXPECT_EQ(Scripts().size(), 2u);
        EXPECT_EQ(PositionOfScript(), "-33.75205750 151.20200");
        ChooseMenu();
    });
}

TEST_F(TrackerTest, QuitEndsPromptlyWhileTheConnectHangs) {
    SilentServer server;
    if (!server.silent()) GTEST_SKIP() << "the loopback listener answers even with a full queue";
    Clock::time_point quitAt;
    RunProgram([&] {
        StartTracking(server.port());
        std::this_thread::sleep_for(milliseconds(100));
        EXPECT_EQ(Controls(), "Stop 1 fields 00 running");
        quitAt = Clock::now();
        ChooseMenu();
    });
    EXPECT_LT(Clock::now() - quitAt, milliseconds(500));
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
    const auto runs = [&started] { return ReadFile(started).size() / 4; };
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
        EXPECT_EQ(OnGui([] { return GetGadgetState(ZoomBar); }), 12000);
        TypePort("5555");
        ChooseMenu();
    });
    EXPECT_EQ(ReadFile(SettingsPath()), saved);
}

TEST_F(TrackerTest, StoredServerTextsCarryAndFill) {
    const std::pair<const char*, const char*> cases[] = {{"10.1", "10.1.0.0"},
                                                         {"256.1.1.1", "0.2.1.1"},
                                                         {"-1", "255.255.255.255"},
                                                         {"names", "0.0.0.0"},
                                                         {"", "0.0.0.0"}};
    for (const auto& [stored, shown] : cases) {
        std::ofstream(SettingsPath(), std::ios::trunc)
            << "[server]\nSERVER = " << stored << "\nport = 4001x\n";
        RunProgram([&] {
            EXPECT_EQ(Text(ServerField) + " " + Text(PortField), std::string(shown) + " 4001x");
            ChooseMenu();
        });
    }
}

}  // namespace
