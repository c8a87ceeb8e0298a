// The tracker against a real gpsd, fed by gpsfake with a recorded receiver: gpsd greets with
// JSON and sends NMEA only when asked, several sentences per write. gpsd and gpsfake come from
// Debian's gpsd and gpsd-clients (scripts/install-deps installs them); without them this test
// fails, it never skips.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>

#include "tests/support/tracker_fixture.h"

namespace {

using namespace tracker_test;

constexpr const char* kGpsfake = "/usr/bin/gpsfake";

// gpsfake and the gpsd it starts, in a process group of their own, replaying a log in a loop
// at about the receiver's own rate.
class Gpsfake {
  public:
    Gpsfake(const fs::path& directory, const std::string& log, int32_t port) {
        const std::string replayed = (directory / "replayed.log").string();
        std::ofstream(replayed, std::ios::binary) << test_data::StreamOfLog(log);
        // Everything exec needs is made before fork: the child may only exec.
        const std::string portText = std::to_string(port);
        const std::string temporary = "TMPDIR=" + directory.string();
        const std::string output = (directory / "gpsfake.out").string();
        const char* arguments[] = {kGpsfake, "-P",    portText.c_str(), "-q",   "-n",
                                   "-c",     "0.013", replayed.c_str(), nullptr};
        const char* environment[] = {"PATH=/usr/sbin:/usr/bin:/bin", temporary.c_str(), nullptr};
        const int quiet = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            const int nothing = open("/dev/null", O_RDONLY);
            dup2(nothing, 0);
            dup2(quiet, 1);
            dup2(quiet, 2);
            execve(kGpsfake, const_cast<char**>(arguments), const_cast<char**>(environment));
            _exit(127);
        }
        if (pid_ > 0) setpgid(pid_, pid_);
        if (quiet >= 0) close(quiet);
    }
    ~Gpsfake() {
        if (pid_ <= 0) return;
        // gpsfake may hang in its own SIGTERM handler, and gpsd outlives a killed gpsfake: the
        // whole group goes.
        kill(-pid_, SIGTERM);
        for (int wait = 0; wait < 60 && waitpid(pid_, nullptr, WNOHANG) == 0; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    Gpsfake(const Gpsfake&) = delete;
    Gpsfake& operator=(const Gpsfake&) = delete;

    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

  private:
    pid_t pid_ = -1;
};

// True once gpsd answers on the port with its greeting; false after ten seconds or when
// gpsfake has ended.
bool GpsdGreets(const Gpsfake& gpsfake, int32_t port) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && gpsfake.running()) {
        const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in address = LoopbackAddress(port);
        char greeting[32] = {};
        pollfd readable{probe, POLLIN, 0};
        const bool greeted =
            connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
            poll(&readable, 1, 2000) == 1 && recv(probe, greeting, sizeof greeting - 1, 0) > 0 &&
            std::string(greeting).starts_with("{\"class\":\"VERSION\"");
        close(probe);
        if (greeted) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST_F(TrackerTest, FollowsARealGpsd) {
    ASSERT_EQ(access(kGpsfake, X_OK), 0) << "gpsfake is missing: bash scripts/install-deps";
    int32_t port = 0;
    {
        LoopbackServer probe;  // a free port, given to gpsd
        port = probe.port();
    }
    Gpsfake gpsfake(BundleContents(), "quectel-l76k-nmea.log", port);
    ASSERT_TRUE(GpsdGreets(gpsfake, port))
        << ReadFile(BundleContents() / "gpsfake.out") << "gpsd did not come up on port " << port;

    const std::vector<std::string> positions = test_data::CheckedPositions("quectel-l76k-nmea.log");
    const auto isLoggedPosition = [&positions](const std::string& position) {
        return std::find(positions.begin(), positions.end(), position) != positions.end();
    };
    RunProgram([&] {
        StartTracking(port);
        EXPECT_TRUE(WaitFor([&] { return isLoggedPosition(Labels()); }, 15000)) << Labels();
        EXPECT_TRUE(WaitFor([&] { return ScriptCount() > 0; }));
        EXPECT_TRUE(isLoggedPosition(PositionOfScript(Script(-1))));
        EXPECT_TRUE(WaitForTitle("Navlume"));
        ChooseQuit();
    });
}

}  // namespace
