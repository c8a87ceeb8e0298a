// Processor time and wake-ups of the real program (NavlumeMain on offscreen Qt, no-op script
// runner) connected to a loopback server in this process, over 10 s spans:
//   - a quiet line: connected, one position shown, then nothing arrives. The worker sleeps in
//     poll() on the socket and its wake-up pipe, the viewer thread on its mailbox, the GUI thread
//     in the event loop; the figures should be nothing measurable and no wake-ups.
//   - a 10 Hz stream of sentences: each one wakes the worker, which sets the labels (handed to
//     the GUI thread) and posts the position to the viewer thread (live KML file, script run).
//   - for scale, a minimal client in this process that blocks in recv() on a loopback connection
//     to the same kind of 10 Hz stream and calls the same runner for each sentence.
// Both run twice: with a runner that returns at once, and with one that starts a program for
// every position as osascript is started on macOS (a two-line shell script that prints the
// clock stands in for it; the started program's own time is not counted, the starting and
// reaping is).
// Figures are the process's processor clock and context switches less the benchmark's own
// threads (the sender, the driver, the minimal client), which are named "bench-..." and read
// from /proc/self/task; the program's threads are listed one by one. Beside them, the latency
// of each stream: from the server's write of a sentence to the start of the runner's call for
// it, in the program (through the worker, the mailbox and the viewer thread) and in the
// minimal client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/viewer_feed.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "runtime/temp_buffer.h"
#include "tests/support/loopback_server.h"
#include "ui/platform/script_runner.h"

namespace {

constexpr auto kSpan = std::chrono::seconds(10);
// Lets the start of tracking or of a stream settle before a span begins.
constexpr auto kSettle = std::chrono::seconds(1);
constexpr auto kFirstPositionWait = std::chrono::seconds(2);
constexpr double kStreamRate = 10.0;  // sentences a second
constexpr size_t kReceiveSize = 65536;

constexpr int64_t kMostItems = 4096;

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t WallNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// When each item of the current stream was written, and the latencies seen so far: to the
// runner's call, and (when a program is started) to the started program's first step, which
// prints the wall clock.
struct Latencies {
    Latencies() : writtenAt(kMostItems), writtenAtWall(kMostItems) {}
    void Reset() {
        for (auto& at : writtenAt)
            at.store(0);
        for (auto& at : writtenAtWall)
            at.store(0);
        std::lock_guard<std::mutex> guard(lock);
        milliseconds.clear();
        toProgram.clear();
    }
    void RunStarts(int64_t item) {
        if (item < 0 || item >= kMostItems) return;
        const int64_t written = writtenAt[static_cast<size_t>(item)].load();
        if (written == 0) return;
        const double latency = static_cast<double>(NowNanoseconds() - written) / 1e6;
        std::lock_guard<std::mutex> guard(lock);
        milliseconds.push_back(latency);
    }
    void ProgramStarted(int64_t item, int64_t wallNanoseconds) {
        if (item < 0 || item >= kMostItems || wallNanoseconds <= 0) return;
        const int64_t written = writtenAtWall[static_cast<size_t>(item)].load();
        if (written == 0) return;
        std::lock_guard<std::mutex> guard(lock);
        toProgram.push_back(static_cast<double>(wallNanoseconds - written) / 1e6);
    }
    static std::vector<double> Sorted(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values;
    }
    std::vector<double> Taken() {
        std::lock_guard<std::mutex> guard(lock);
        return Sorted(milliseconds);
    }
    std::vector<double> TakenToProgram() {
        std::lock_guard<std::mutex> guard(lock);
        return Sorted(toProgram);
    }
    std::vector<std::atomic<int64_t>> writtenAt;
    std::vector<std::atomic<int64_t>> writtenAtWall;
    std::mutex lock;
    std::vector<double> milliseconds;
    std::vector<double> toProgram;
};

// The program started per position: prints the wall clock in nanoseconds as it starts.
std::string stampProgram;

Latencies latencies;

// The stream item of a viewer script: its latitude names the sentence; -1 for none.
int64_t ItemOfScript(const char* source) {
    const std::string script = source;
    const std::string prefix = "set latitude of viewInfo To ";
    const size_t at = script.find(prefix);
    if (at == std::string::npos) return -1;
    const size_t from = at + prefix.size();
    const std::string latitude = script.substr(from, script.find("\r\n", from) - from);
    return SentenceNumberOf(latitude, kLatitudeOrigin) - 1;
}

// The runner of both sides: returns at once, or starts a program for every position.
std::atomic<bool> startProgram{false};
std::atomic<int64_t> runs{0};

thread_local int64_t minimalClientItem = -1;

char* MeasuredRun(const char* source, int64_t start) {
    runs.fetch_add(1);
    const int64_t item = source[0] != '\0' ? ItemOfScript(source) : minimalClientItem;
    latencies.RunStarts(item);
    if (!startProgram.load()) return TempEmptyAt(start);
    char* printed = RunScriptWith(stampProgram.c_str(), source, start);
    latencies.ProgramStarted(item, std::strtoll(printed, nullptr, 10));
    return printed;
}

void FillSentence(int64_t item, std::string& out) {
    // Filled right before the write that sends it.
    if (item < kMostItems) {
        latencies.writtenAt[static_cast<size_t>(item)].store(NowNanoseconds());
        latencies.writtenAtWall[static_cast<size_t>(item)].store(WallNanoseconds());
    }
    AppendNumberedSentence(item + 1, out);  // sentence 0 is the one shown before the quiet span
}

UseSpan MeasureSpan() {
    const UseSnapshot before = TakeUse();
    std::this_thread::sleep_for(kSpan);
    return UseBetween(before, TakeUse());
}

// Connects to the loopback port and reads until the connection ends, calling the no-op runner
// for every line end it receives; on a thread of its own named "bench-client".
class MinimalClient {
  public:
    explicit MinimalClient(int32_t port)
        : Socket(socket(AF_INET, SOCK_STREAM, 0)), Thread([this, port] { Run(port); }) {}
    ~MinimalClient() {
        shutdown(Socket, SHUT_RDWR);  // ends a recv() in progress
        Thread.join();
        if (Socket >= 0) close(Socket);
    }
    MinimalClient(const MinimalClient&) = delete;
    MinimalClient& operator=(const MinimalClient&) = delete;

    int64_t Sentences() const { return Count.load(); }

  private:
    void Run(int32_t port) {
        NameThisThread("bench-client");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (Socket < 0 ||
            connect(Socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return;
        }
        std::vector<char> buffer(kReceiveSize);
        int64_t item = 0;
        for (;;) {
            const ssize_t count = recv(Socket, buffer.data(), buffer.size(), 0);
            if (count <= 0) return;
            const char* end = buffer.data() + count;
            for (const char* at = buffer.data();
                 (at = static_cast<const char*>(std::memchr(at, '\n', end - at))) != nullptr;
                 ++at) {
                TempScope scope;
                minimalClientItem = item++;
                MeasuredRun("", scope.Start());
                Count.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }

    const int Socket;
    std::atomic<int64_t> Count{0};
    std::thread Thread;  // last: it starts once the socket exists
};

struct Figures {
    UseSpan quiet;
    UseSpan tracking;
    int64_t trackingPositions = 0;
    UseSpan minimal;
    std::vector<double> trackingLatency;
    std::vector<double> minimalLatency;
    std::vector<double> trackingToProgram;
    std::vector<double> minimalToProgram;
    double minimalCpuSeconds = 0;
    int64_t minimalWakeUps = 0;
    int64_t minimalSentences = 0;
};

bool WaitForFirstPosition() {
    const auto deadline = std::chrono::steady_clock::now() + kFirstPositionWait;
    while (runs.load() == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int MeasureProgram(ProgramHarness& harness, Figures* figures) {
    LoopbackServer server;
    if (!server.Ok()) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    harness.SetPort(server.port());
    if (!harness.PressStartButton()) {
        std::fprintf(stderr, "tracking did not start\n");
        return 1;
    }
    const int client = server.Accept();
    // One position first, so that the viewer thread is known by its script run.
    if (client < 0 || !SendAll(client, NumberedSentence(0)) || !WaitForFirstPosition()) {
        std::fprintf(stderr, "the program did not connect or showed no position\n");
        return 1;
    }

    std::this_thread::sleep_for(kSettle);
    figures->quiet = MeasureSpan();

    latencies.Reset();
    PacedSender stream(client, kStreamRate, FillSentence);
    std::this_thread::sleep_for(kSettle);
    const int64_t runsBefore = runs.load();
    figures->tracking = MeasureSpan();
    figures->trackingPositions = runs.load() - runsBefore;
    stream.Stop();
    figures->trackingLatency = latencies.Taken();
    figures->trackingToProgram = latencies.TakenToProgram();
    harness.PressStartButton();  // Stop
    if (stream.Failed() || figures->trackingPositions == 0) {
        std::fprintf(stderr, "the stream failed or no position was shown\n");
        return 1;
    }
    return 0;
}

int MeasureMinimalClient(Figures* figures) {
    // The program's Stop refused script runs process-wide until its next tracking run; the
    // minimal client runs its own.
    AllowScriptRuns();
    LoopbackServer server;
    if (!server.Ok()) return 1;
    MinimalClient reader(server.port());
    const int client = server.Accept();
    if (client < 0) {
        std::fprintf(stderr, "the minimal client did not connect\n");
        return 1;
    }
    latencies.Reset();
    PacedSender stream(client, kStreamRate, FillSentence);
    std::this_thread::sleep_for(kSettle);
    const int64_t before = reader.Sentences();
    figures->minimal = MeasureSpan();
    figures->minimalSentences = reader.Sentences() - before;
    const ThreadUse used = figures->minimal.Thread("bench-client");
    figures->minimalCpuSeconds = used.cpuSeconds;
    figures->minimalWakeUps = used.wakeUps;
    stream.Stop();
    figures->minimalLatency = latencies.Taken();
    figures->minimalToProgram = latencies.TakenToProgram();
    return 0;
}

void PrintFigures(const Figures& figures, const char* runner) {
    const UseSpan& quiet = figures.quiet;
    const UseSpan& tracking = figures.tracking;
    std::printf(
        "processor time: real program (NavlumeMain on offscreen Qt, %s) and a loopback server in "
        "this process; the benchmark's own threads are taken off\n",
        runner);
    std::printf("  quiet line CPU:        %8.3f ms over %.1f s (%.4f %% of one core)\n",
                quiet.programCpuSeconds() * 1e3, quiet.seconds,
                PercentOfCore(quiet.programCpuSeconds(), quiet.seconds));
    std::printf(
        "  quiet line wake-ups:   %8lld voluntary context switches over %.1f s (%lld "
        "involuntary)\n",
        static_cast<long long>(quiet.programWakeUps()), quiet.seconds,
        static_cast<long long>(quiet.programPreempted()));
    std::printf("      threads: %s\n", quiet.DescribeProgramThreads().c_str());
    std::printf(
        "  10 Hz tracking CPU:    %8.3f ms over %.1f s (%.4f %% of one core), %lld positions "
        "shown, %.1f us each\n",
        tracking.programCpuSeconds() * 1e3, tracking.seconds,
        PercentOfCore(tracking.programCpuSeconds(), tracking.seconds),
        static_cast<long long>(figures.trackingPositions),
        figures.trackingPositions > 0
            ? tracking.programCpuSeconds() * 1e6 / static_cast<double>(figures.trackingPositions)
            : 0.0);
    std::printf(
        "  10 Hz tracking wake-ups: %6lld voluntary context switches over %.1f s (%lld "
        "involuntary)\n",
        static_cast<long long>(tracking.programWakeUps()), tracking.seconds,
        static_cast<long long>(tracking.programPreempted()));
    std::printf("      threads: %s\n", tracking.DescribeProgramThreads().c_str());
    std::printf(
        "  minimal client CPU:    %8.3f ms over %.1f s (%.4f %% of one core), %lld sentences, "
        "%lld wake-ups (blocking recv() + the same runner per sentence)\n",
        figures.minimalCpuSeconds * 1e3, figures.minimal.seconds,
        PercentOfCore(figures.minimalCpuSeconds, figures.minimal.seconds),
        static_cast<long long>(figures.minimalSentences),
        static_cast<long long>(figures.minimalWakeUps));
    std::printf(
        "  tracking / minimal:    %8.2f x (processor time of the program over that of the "
        "minimal client)\n",
        figures.minimalCpuSeconds > 0 ? tracking.programCpuSeconds() / figures.minimalCpuSeconds
                                      : 0.0);
    const auto median = [](const std::vector<double>& values) {
        return values.empty() ? 0.0 : values[values.size() / 2];
    };
    const auto p99 = [](const std::vector<double>& values) {
        return values.empty() ? 0.0 : values[(values.size() * 99 + 99) / 100 - 1];
    };
    std::printf(
        "  latency write -> run:  program median %.3f ms, p99 %.3f ms (%zu runs); minimal "
        "client median %.3f ms, p99 %.3f ms (%zu); program / minimal %.2f x (medians)\n",
        median(figures.trackingLatency), p99(figures.trackingLatency),
        figures.trackingLatency.size(), median(figures.minimalLatency), p99(figures.minimalLatency),
        figures.minimalLatency.size(),
        median(figures.minimalLatency) > 0
            ? median(figures.trackingLatency) / median(figures.minimalLatency)
            : 0.0);
    if (!figures.trackingToProgram.empty()) {
        std::printf(
            "  latency write -> started program: program median %.3f ms, p99 %.3f ms (%zu); "
            "minimal client median %.3f ms, p99 %.3f ms (%zu); program / minimal %.2f x "
            "(medians)\n",
            median(figures.trackingToProgram), p99(figures.trackingToProgram),
            figures.trackingToProgram.size(), median(figures.minimalToProgram),
            p99(figures.minimalToProgram), figures.minimalToProgram.size(),
            median(figures.minimalToProgram) > 0
                ? median(figures.trackingToProgram) / median(figures.minimalToProgram)
                : 0.0);
    }
    std::printf(
        "  aim: quiet line nothing measurable and no wake-ups; tracking within 2 x of the "
        "minimal client; latency within 1.2 x of it\n");
}

}  // namespace

int main() {
    // A compiled program would start faster than a shell, but both sides start the same one.
    const std::filesystem::path stamp =
        std::filesystem::temp_directory_path() / "navlume-processor-bench-stamp";
    std::ofstream(stamp) << "#!/bin/sh\nexec date +%s%N\n";
    std::filesystem::permissions(stamp, std::filesystem::perms::owner_all);
    stampProgram = stamp.string();
    const char* const runners[] = {"a runner that returns at once",
                                   "a runner that starts a program per position (a shell "
                                   "script that prints the clock)"};
    for (const bool starts : {false, true}) {
        startProgram = starts;
        runs = 0;
        Figures figures;
        ProgramHarness harness;
        SetScriptRunner(MeasuredRun);
        const int status = harness.Run([&] {
            if (MeasureProgram(harness, &figures) != 0) return 1;
            return MeasureMinimalClient(&figures);
        });
        SetScriptRunner(nullptr);
        if (status != 0) return status;
        PrintFigures(figures, runners[starts ? 1 : 0]);
    }
    std::filesystem::remove(stamp);
    return 0;
}
