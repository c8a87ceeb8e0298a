// The tracker's window, settings and Start/Stop control, end to end inside one process.
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "runtime/network.h"
#include "tests/support/tracker_fixture.h"
#include "ui/platform/script_runner.h"

namespace {

using namespace tracker_test;

constexpr const char* kExampleSentence =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

// Sends bytes and waits until the viewer has had count scripts in all.
bool SendAndWaitForScripts(int client, const std::string& bytes, size_t count) {
    return SendAll(client, bytes) && WaitFor([count] { return ScriptCount() >= count; });
}

// A runner that hangs: the real runner on a program that sleeps.
std::string hangingRunner;
char* RunHangingScript(const char* source, int64_t start) {
    return RunScriptWith(hangingRunner.c_str(), source, start);
}

TEST_F(TrackerTest, PositionsReachTheLabelsAndTheViewerScript) {
    RunProgram([this] {
        LoopbackServer server;
        ASSERT_TRUE(server.ok());
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        EXPECT_EQ(Text(StartButton), "Stop");
        EXPECT_FALSE(Enabled(ServerField));
        EXPECT_FALSE(Enabled(PortField));
        const std::string server_ = "127.0.0.1:" + std::to_string(server.port());
        EXPECT_TRUE(WaitForTitle("Navlume - connected to " + server_ + ", waiting for a position"));

        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        EXPECT_EQ(Labels(), "48.117300 11.516667");
        EXPECT_EQ(Script(0), ScriptFor("48.117300", "11.516667", "500"));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        // KML viewers get the same position beside the settings, and a link file to follow.
        EXPECT_EQ(ReadFile(BundleContents() / "Navlume-position.kml"),
                  ReadFile(fs::path(NAVLUME_TEST_DATA) / "navlume-position.kml.chk"));
        EXPECT_TRUE(fs::is_regular_file(BundleContents() / "Navlume.kml"));

        // A sentence in pieces, behind another sentence in the same write, field 7 last.
        ASSERT_TRUE(SendAll(client, "$GPGGA,1,4807.038,N,01131.000,E,1,08*4B\r\n$GPRMC,1,A,48"));
        Settle();
        EXPECT_EQ(ScriptCount(), 1u);
        ASSERT_TRUE(SendAndWaitForScripts(client, "07.038,S,01131.000,W*0D\r\n", 2));
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");
        EXPECT_EQ(Script(1), ScriptFor("-48.117300", "-11.516667", "500"));

        // What is not a usable position changes nothing, and the labels keep the last one.
        ASSERT_TRUE(SendAll(client,
                            "$gprmc,1,A,1111.111,N,02222.222,E\r\n"
                            "$GPRMC,,V,,,,,,,,,,N*53\r\n"
                            "$GPRMC,1,A,1111.111,N,02222.222,E*00\r\n" +
                                std::string("$GPRMC,1,A,1111.111,N\0,02222.222,E\r\n", 36)));
        Settle();
        EXPECT_EQ(ScriptCount(), 2u);
        EXPECT_EQ(Labels(), "-48.117300 -11.516667");

        // The next script takes the distance the track bar shows now.
        MoveZoomBar(12000);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 3));
        EXPECT_EQ(Script(2), ScriptFor("48.117300", "11.516667", "12000"));

        // Stop: the button and fields return to idle, the worker ends, the labels stay.
        Click(StartButton);
        EXPECT_EQ(Text(StartButton), "Start");
        EXPECT_TRUE(Enabled(ServerField));
        EXPECT_TRUE(Enabled(PortField));
        EXPECT_FALSE(WorkerRunning());
        EXPECT_EQ(Title(), "Navlume");
        EXPECT_EQ(Labels(), "48.117300 11.516667");
        PressClose();
    });
}

// KML files that cannot be written (here: directories stand in their place) cost nothing but
// the files: labels and scripts go on, and no temporary file is left behind.
TEST_F(TrackerTest, UnwritableKmlFilesLeaveTrackingAlone) {
    fs::create_directories(BundleContents() / "Navlume-position.kml");
    fs::create_directories(BundleContents() / "Navlume.kml");
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(SendAndWaitForScripts(client, kExampleSentence, 1));
        ASSERT_TRUE(SendAndWaitForScripts(client, "$GPRMC,1,A,5130.1234,N,15112.12,E\r\n", 2));
        EXPECT_EQ(Labels(), "51.5020567 151.20200");
        ChooseQuit();
    });
    for (const auto& entry : fs::directory_iterator(BundleContents())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
    }
    EXPECT_TRUE(fs::is_empty(BundleContents() / "Navlume-position.kml"));
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

// A viewer that hangs holds up neither the labels nor Stop and Start; a new run never shares the
// server with an old one.
TEST_F(TrackerTest, AHangingViewerNeverLocksTracking) {
    RunProgram([this] {
        LoopbackServer server;
        const int client = StartTracking(server);
        ASSERT_GE(client, 0);
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

        // Released, the viewer gets the newest position only: nothing of the stopped run.
        HoldScripts(false);
        EXPECT_TRUE(WaitFor([] { return ScriptCount() == 2; }));
        Settle();
        EXPECT_EQ(ScriptCount(), 2u);
        EXPECT_EQ(PositionOfScript(LastScript()), "-33.75205750 151.20200");
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

// The real runner on a viewer that never answers: Stop ends the run (the next position starts a
// new one), and so does closing the window, promptly.
TEST_F(TrackerTest, StopAndCloseEndAHangingScriptRun) {
    const fs::path runner = BundleContents() / "hanging-osascript";
    const fs::path started = BundleContents() / "runs";
    {
        std::ofstream script(runner);
        script << "#!/bin/sh\necho run >> '" << started.string() << "'\nexec sleep 30\n";
    }
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
        int client = StartTracking(server);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(SendAll(client, kExampleSentence));
        ASSERT_TRUE(WaitFor([&] { return runs() == 1; }));

        const Clock::time_point stoppedAt = Clock::now();
        Click(StartButton);
        EXPECT_LT(Clock::now() - stoppedAt, std::chrono::milliseconds(500));
        client = StartTracking(server);
        ASSERT_GE(client, 0);
        ASSERT_TRUE(SendAll(client, kExampleSentence));
        EXPECT_TRUE(WaitFor([&] { return runs() == 2; }));

        closedAt = Clock::now();
        PressClose();
    });
    EXPECT_LT(Clock::now() - closedAt, std::chrono::milliseconds(500));
}

TEST_F(TrackerTest, SettingsAreCreatedSavedOnCloseAndNotOnQuit) {
    // First run: the file is made with the built-in values.
    RunProgram([this] { PressClose(); });
    EXPECT_EQ(ReadFile(SettingsPath()),
              ReadFile(fs::path(NAVLUME_TEST_DATA) / "first-run-settings.cfg.chk"));

    // Changes are stored by the close button.
    RunProgram([this] {
        OnGui([] { SetGadgetState(ServerField, MakeIPv4Address(192, 168, 1, 20)); });
        TypePort("4001");
        MoveZoomBar(12000);
        PressClose();
    });
    EXPECT_EQ(ReadFile(SettingsPath()),
              "[Server]\nServer = 192.168.1.20\nPort = 4001\n[GE]\nZoom = 12000\n");

    // The next start shows them; Quit stores nothing.
    RunProgram([this] {
        EXPECT_EQ(Text(ServerField), "192.168.1.20");
        EXPECT_EQ(Text(PortField), "4001");
        EXPECT_EQ(State(ZoomBar), 12000);
        TypePort("5555");
        ChooseQuit();
    });
    EXPECT_EQ(ReadFile(SettingsPath()),
              "[Server]\nServer = 192.168.1.20\nPort = 4001\n[GE]\nZoom = 12000\n");
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
