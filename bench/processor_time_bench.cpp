// Processor time of the real program (NavlumeMain on offscreen Qt) over two 10 s spans: idle in
// its event loop with nothing to do, and tracking a 10 Hz stream from a loopback server with a
// no-op script runner. The figure is the whole process's getrusage. The server thread that plays
// the stream lives in the same process, so its own processor time (its thread clock) is taken
// off; the GUI thread's and the worker's thread clocks show where the rest goes. A thread that
// only sleeps 10 ms at a time, as the worker does between polls, gives the scale of this
// machine's wake-up cost.
#include <pthread.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/viewer_feed.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "runtime/delay.h"
#include "runtime/temp_buffer.h"
#include "tests/support/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSpan = std::chrono::seconds(10);
// Lets start-up or start of tracking settle before a span begins.
constexpr auto kSettle = std::chrono::seconds(1);
constexpr auto kSentencePeriod = std::chrono::milliseconds(100);
constexpr auto kSleepLoopSpan = std::chrono::seconds(5);
constexpr int32_t kCycleMilliseconds = 10;

// Processor-time clocks of the GUI thread and of the tracking worker (known from its first
// script run, which happens on the worker thread).
clockid_t guiClock{};
std::atomic<bool> workerClockKnown{false};
clockid_t workerClock{};
std::atomic<int64_t> scriptRuns{0};

char* CountScriptRun(const char*, int64_t start) {
    if (scriptRuns.fetch_add(1) == 0) {
        pthread_getcpuclockid(pthread_self(), &workerClock);
        workerClockKnown = true;
    }
    return TempEmptyAt(start);
}

double RusageSeconds(long* contextSwitches) {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto toSeconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    *contextSwitches = usage.ru_nvcsw + usage.ru_nivcsw;
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double ClockSeconds(clockid_t clock) {
    timespec time{};
    if (clock_gettime(clock, &time) != 0) return 0;
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

// Processor seconds of the process and of some threads over one span of wall time.
struct Span {
    double seconds = 0;
    double process = 0;
    double gui = 0;
    double worker = 0;
    double server = 0;
    double measuring = 0;  // the thread that takes the snapshots
    long contextSwitches = 0;
    int64_t scripts = 0;
};

struct Snapshot {
    Clock::time_point at;
    double process = 0;
    double gui = 0;
    double worker = 0;
    double measuring = 0;
    long contextSwitches = 0;
    int64_t scripts = 0;
};

// Called on the measuring (driver) thread.
Snapshot Take() {
    Snapshot snapshot;
    snapshot.at = Clock::now();
    snapshot.process = RusageSeconds(&snapshot.contextSwitches);
    snapshot.gui = ClockSeconds(guiClock);
    snapshot.worker = workerClockKnown ? ClockSeconds(workerClock) : 0;
    snapshot.measuring = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
    snapshot.scripts = scriptRuns.load();
    return snapshot;
}

Span Between(const Snapshot& before, const Snapshot& after) {
    Span span;
    span.seconds = std::chrono::duration<double>(after.at - before.at).count();
    span.process = after.process - before.process;
    span.gui = after.gui - before.gui;
    span.worker = after.worker - before.worker;
    span.measuring = after.measuring - before.measuring;
    span.contextSwitches = after.contextSwitches - before.contextSwitches;
    span.scripts = after.scripts - before.scripts;
    return span;
}

// Plays one sentence every 100 ms to the client until it ends.
class StreamServer {
  public:
    explicit StreamServer(int client) : Client(client), Thread([this] { Play(); }) {
        pthread_getcpuclockid(Thread.native_handle(), &CpuClock);
    }
    ~StreamServer() {
        Stop = true;
        Thread.join();
    }
    StreamServer(const StreamServer&) = delete;
    StreamServer& operator=(const StreamServer&) = delete;

    double CpuSeconds() const { return ClockSeconds(CpuClock); }

  private:
    void Play() {
        auto next = Clock::now();
        for (int64_t number = 0; !Stop; ++number) {
            SendAll(Client, NumberedSentence(number % 6000));
            next += kSentencePeriod;
            std::this_thread::sleep_until(next);
        }
    }

    int Client;
    std::atomic<bool> Stop{false};
    clockid_t CpuClock{};
    std::thread Thread;
};

Span MeasureIdle() {
    std::this_thread::sleep_for(kSettle);
    const Snapshot before = Take();
    std::this_thread::sleep_for(kSpan);
    return Between(before, Take());
}

bool MeasureTracking(ProgramHarness& harness, Span* span) {
    LoopbackServer server;
    harness.SetPort(server.port());
    if (!server.ok() || !harness.PressStartButton()) return false;
    const int client = server.Accept();
    if (client < 0) return false;
    StreamServer stream(client);

    std::this_thread::sleep_for(kSettle);
    const double serverBefore = stream.CpuSeconds();
    const Snapshot before = Take();
    std::this_thread::sleep_for(kSpan);
    const Snapshot after = Take();
    *span = Between(before, after);
    span->server = stream.CpuSeconds() - serverBefore;
    harness.PressStartButton();  // Stop
    return span->scripts > 0;
}

// For scale: what a thread that does nothing but sleep 10 ms at a time costs on this machine,
// as seconds per span.
double SleepLoopSecondsPerSpan() {
    double used = 0;
    std::thread sleeper([&used] {
        const double start = ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
        const auto end = Clock::now() + kSleepLoopSpan;
        while (Clock::now() < end)
            DelayMilliseconds(kCycleMilliseconds);
        used = ClockSeconds(CLOCK_THREAD_CPUTIME_ID) - start;
    });
    sleeper.join();
    return used * std::chrono::duration<double>(kSpan).count() /
           std::chrono::duration<double>(kSleepLoopSpan).count();
}

double Percent(double processorSeconds, double wallSeconds) {
    return wallSeconds > 0 ? 100.0 * processorSeconds / wallSeconds : 0;
}

}  // namespace

int main() {
    Span idle;
    Span tracking;
    double sleepLoop = 0;
    pthread_getcpuclockid(pthread_self(), &guiClock);
    ProgramHarness harness;
    SetScriptRunner(CountScriptRun);
    const int status = harness.Run([&] {
        idle = MeasureIdle();
        if (!MeasureTracking(harness, &tracking)) {
            std::fprintf(stderr, "tracking did not start or showed nothing\n");
            return 1;
        }
        sleepLoop = SleepLoopSecondsPerSpan();
        return 0;
    });
    SetScriptRunner(nullptr);
    if (status != 0) return status;

    std::printf(
        "processor time over %.0f s spans (getrusage of the whole process, thread clocks for the "
        "parts; real program on offscreen Qt, no-op script runner)\n",
        idle.seconds);
    const double idleProgram = idle.process - idle.measuring;
    std::printf(
        "  idle in the event loop:  program %.3f ms (%.4f %% of one core) = process %.3f ms "
        "less the measuring thread %.3f ms; of it the GUI thread %.3f ms; context switches: "
        "%ld\n",
        idleProgram * 1e3, Percent(idleProgram, idle.seconds), idle.process * 1e3,
        idle.measuring * 1e3, idle.gui * 1e3, idle.contextSwitches);
    // The server thread and the measuring thread are the benchmark's, not the program's.
    const double program = tracking.process - tracking.server - tracking.measuring;
    std::printf(
        "  tracking 10 Hz:          program %.3f ms (%.4f %% of one core) = process %.3f ms "
        "less the test's server thread %.3f ms and the measuring thread %.3f ms; of it the "
        "worker %.3f ms, the GUI thread %.3f ms; %lld sentences shown\n",
        program * 1e3, Percent(program, tracking.seconds), tracking.process * 1e3,
        tracking.server * 1e3, tracking.measuring * 1e3, tracking.worker * 1e3, tracking.gui * 1e3,
        static_cast<long long>(tracking.scripts));
    std::printf(
        "  for scale: a thread that only sleeps 10 ms at a time uses %.3f ms per %.0f s "
        "here\n",
        sleepLoop * 1e3, tracking.seconds);
    std::printf("  aim: idle none measurable; tracking under 1 %% of one core\n");
    return 0;
}
