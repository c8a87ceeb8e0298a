// The tracker against a real gpsd, fed by gpsfake with a recorded receiver: gpsd greets with
// JSON and sends NMEA only when asked, several sentences per write. gpsd and gpsfake come from
// Debian's gpsd and gpsd-clients (scripts/install-deps installs them); without them this test
// fails, it never skips.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/support/tracker_fixture.h"

namespace {

using namespace tracker_test;

constexpr const char* kGpsfake = "/usr/bin/gpsfake";

TEST_F(TrackerTest, FollowsARealGpsd) {
    ASSERT_EQ(access(kGpsfake, X_OK), 0) << "gpsfake is missing: bash scripts/install-deps";
    int32_t port = 0;
    {
        LoopbackServer probe;  // a free port, given to gpsd
        port = probe.port();
    }
    const std::string replayed = (BundleContents() / "replayed.log").string();
    const std::string output = (BundleContents() / "gpsfake.out").string();
    std::ofstream(replayed, std::ios::binary) << test_data::StreamOfLog("quectel-l76k-nmea.log");
    // gpsfake and the gpsd it starts replay the log in a loop at about the receiver's own rate,
    // in a process group of their own: gpsd outlives a killed gpsfake, so the whole group goes.
    const std::string portText = std::to_string(port);
    const std::string temporary = "TMPDIR=" + BundleContents().string();
    const char* arguments[] = {kGpsfake, "-P",    portText.c_str(), "-q",   "-n",
                               "-c",     "0.013", replayed.c_str(), nullptr};
    const char* environment[] = {"PATH=/usr/sbin:/usr/bin:/bin", temporary.c_str(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t gpsfake = -1;
    ASSERT_EQ(posix_spawn(&gpsfake, kGpsfake, &files, &attributes, const_cast<char**>(arguments),
                          const_cast<char**>(environment)),
              0);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);

    // The worker keeps trying to connect until gpsd is up, as it would for a late receiver.
    const std::vector<std::string> positions = test_data::CheckedPositions("quectel-l76k-nmea.log");
    const auto isLoggedPosition = [&positions](const std::string& position) {
        return std::find(positions.begin(), positions.end(), position) != positions.end();
    };
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitFor([&] { return isLoggedPosition(Labels()); }, 25000))
            << Labels() << "; " << Title() << "; gpsfake: " << ReadFile(output);
        EXPECT_TRUE(WaitFor([&] { return ScriptCount() > 0; }));
        EXPECT_TRUE(isLoggedPosition(PositionOfScript(Script(-1))));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        ChooseQuit();
    });
    // gpsfake may hang in its own SIGTERM handler: after three seconds the group is killed.
    kill(-gpsfake, SIGTERM);
    for (int wait = 0; wait < 60 && waitpid(gpsfake, nullptr, WNOHANG) == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(-gpsfake, SIGKILL);
    waitpid(gpsfake, nullptr, 0);
}

}  // namespace
