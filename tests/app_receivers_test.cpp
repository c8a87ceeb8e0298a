// The tracker against the sources real users have: recorded receivers delivered in every shape
// a link may give them, servers that go away, come late or fall silent, a slow viewer and a real
// gpsd.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>

#include "app/rmc_sentence.h"
#include "app/tracking_worker.h"
#include "tests/support/tracker_fixture.h"

namespace {

using namespace tracker_test;

// True when the scripts from index first on carry an in-order part of positions that ends with
// its last position: positions may be skipped when they come faster than the viewer takes them,
// never reordered, repeated from the past or invented.
::testing::AssertionResult ScriptsFollow(size_t first, const std::vector<std::string>& positions) {
    auto next = positions.begin();
    std::string last;
    const std::vector<std::string> scripts = Scripts();
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

// A log's stream cut into writes: pieces of the sizes next gives, or (for null) one burst per
// receiver second, everything up to and with each RMC.
std::vector<std::string> Writes(const std::string& log, const std::function<size_t()>& next) {
    const std::string stream = test_data::StreamOfLog(log);
    std::vector<std::string> writes;
    for (size_t at = 0, size = 0; at < stream.size(); at += size) {
        const size_t rmc = next ? 0 : stream.find("RMC,", at);
        size = next                       ? next()
               : rmc == std::string::npos ? stream.size()
                                          : stream.find('\n', rmc) + 1 - at;
        writes.push_back(stream.substr(at, size = std::min(size, stream.size() - at)));
    }
    return writes;
}

// Milliseconds left until end, at least 0.
int Left(Clock::time_point end) {
    return std::max<int>(0, static_cast<int>((end - Clock::now()) / milliseconds(1)));
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
            const std::vector<std::string> positions = test_data::CheckedPositions(log);
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
        const int client = StartTracking(server);
        const size_t scripts = Scripts().size();
        ASSERT_TRUE(SendAll(client, test_data::StreamOfLog("GPSmap-76S.log")));
        Settle();
        EXPECT_EQ(Scripts().size(), scripts);
        ChooseMenu();
    });
}

TEST_F(TrackerTest, AServerThatIsNotUpYetIsTriedAgainAndStopEndsTheWait) {
    const int32_t port = LoopbackServer().port();  // nothing listens there once it is gone
    const std::string name = "127.0.0.1:" + std::to_string(port);
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitForTitle("Navlume - cannot connect to " + name + ", retrying in ", false));
        std::this_thread::sleep_for(std::chrono::seconds(2));
        LoopbackServer server(port);
        ASSERT_TRUE(server.ok());
        EXPECT_GE(server.Accept(5000), 0);
        EXPECT_TRUE(WaitForTitle("Navlume - connected to " + name + ", waiting for a position"));
        ChooseMenu();
    });
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitForTitle("Navlume - cannot connect to ", false));
        std::this_thread::sleep_for(milliseconds(100));  // inside the pause, Stop
        Click(StartButton);
        EXPECT_EQ(Controls() + " " + Title(), "Start 0 fields 11 idle Navlume");
        ChooseMenu();
    });
}

// A server that takes each connection and closes it at once: every attempt shows, and they
// come no faster than the pauses allow (0, then 0.5, 1, 2 s later, each up to a tenth longer).
TEST_F(TrackerTest, ReconnectsNeverComeFasterThanThePauses) {
    RunProgram([this] {
        LoopbackServer server;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
        StartTracking(server.port());
        int attempts = 0;
        for (int client; (client = server.Accept(Left(end))) >= 0; ++attempts)
            server.CloseClient(client);
        EXPECT_EQ(attempts, 3);
        ChooseMenu();
    });
}

TEST_F(TrackerTest, ASilentServerIsLeftAfterFifteenSeconds) {
    RunProgram([this] {
        LoopbackServer server;
        const std::string name = "127.0.0.1:" + std::to_string(server.port());
        ASSERT_GE(StartTracking(server), 0);
        const Clock::time_point connected = Clock::now();
        EXPECT_TRUE(WaitForTitle("Navlume - no data from " + name + " for 15 s, retrying in ",
                                 false, 17000));
        EXPECT_GE(server.Accept(3000), 0);
        EXPECT_GE(Clock::now() - connected, milliseconds(kSilenceLimitMs));
        ChooseMenu();
    });
}

// Positions at 10 Hz for 5 s against a viewer that takes 250 ms a run: the labels keep up, and
// the viewer skips positions instead of falling behind, never goes back and ends on the last.
TEST_F(TrackerTest, ASlowViewerGetsTheNewestPositionNeverABacklog) {
    constexpr int kRunMs = 250;
    SetScriptRuns(false, kRunMs);
    std::vector<std::string> sentences;
    std::vector<std::string> positions;  // as the labels show them
    for (size_t i = 0; i < 50; ++i) {
        const std::string minutes = std::to_string(10 + i / 10) + "." + std::to_string(i % 10);
        sentences.push_back("$GPRMC,1,A,48" + minutes + ",N,011" + minutes + ",E\r\n");
        Position shown;
        ASSERT_TRUE(JudgeRmcLine(sentences[i].data(), sentences[i].size() - 2, &shown));
        positions.push_back(shown.latitude + " " + shown.longitude);
    }
    RunProgram([&] {
        LoopbackServer server;
        const int client = StartTracking(server);
        for (const std::string& sentence : sentences) {
            ASSERT_TRUE(SendAll(client, sentence));
            std::this_thread::sleep_for(milliseconds(100));
        }
        EXPECT_EQ(Labels(), positions.back());
        // The last position is at most one run behind the last sentence, then nothing follows.
        const Clock::time_point sentLast = Clock::now();
        EXPECT_TRUE(WaitFor([&] { return PositionOfScript() == positions.back(); }));
        EXPECT_LE(Clock::now() - sentLast, milliseconds(kRunMs + 500));
        Settle();
        EXPECT_LE(Scripts().size(), 5000u / kRunMs + 2);
        EXPECT_TRUE(ScriptsFollow(0, positions));
        ChooseMenu();
    });
}

// gpsd, fed by gpsfake with a recorded receiver, greets with JSON and sends NMEA only when asked,
// several sentences per write. gpsd and gpsfake come from Debian's gpsd and gpsd-clients
// (scripts/install-deps installs them); without them this test fails, it never skips.
constexpr const char* kGpsfake = "/usr/bin/gpsfake";

TEST_F(TrackerTest, FollowsARealGpsd) {
    ASSERT_EQ(access(kGpsfake, X_OK), 0) << "gpsfake is missing: bash scripts/install-deps";
    const int32_t port = LoopbackServer().port();  // a free port, given to gpsd
    const fs::path replayed = BundleContents() / "replayed.log", output = BundleContents() / "out";
    std::ofstream(replayed, std::ios::binary) << test_data::StreamOfLog("quectel-l76k-nmea.log");
    // gpsfake and the gpsd it starts replay the log in a loop at about the receiver's own rate,
    // in a process group of their own: gpsd outlives a killed gpsfake, so the whole group goes.
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
    const std::vector<std::string> positions = test_data::CheckedPositions("quectel-l76k-nmea.log");
    const auto isLoggedPosition = [&positions](const std::string& position) {
        return std::find(positions.begin(), positions.end(), position) != positions.end();
    };
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitFor([&] { return isLoggedPosition(Labels()); }, 25000))
            << Labels() << "; " << Title() << "; gpsfake: " << ReadFile(output);
        EXPECT_TRUE(WaitFor([&] { return Scripts().size() > 0; }));
        EXPECT_TRUE(isLoggedPosition(PositionOfScript()));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        ChooseMenu();
    });
    // gpsfake may hang in its own SIGTERM handler: after three seconds the group is killed.
    kill(-gpsfake, SIGTERM);
    for (int wait = 0; wait < 60 && waitpid(gpsfake, nullptr, WNOHANG) == 0; ++wait)
        std::this_thread::sleep_for(milliseconds(50));
    kill(-gpsfake, SIGKILL);
    waitpid(gpsfake, nullptr, 0);
}

}  // namespace
