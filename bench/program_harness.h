// Runs the real tracker for a benchmark: NavlumeMain with its event loop on the main thread, on
// Qt's offscreen platform, while a driver function on a second thread plays the user through
// tasks that run on the GUI thread. The program's own code is not changed or wrapped; what a
// benchmark observes it reads from the Qt widgets after each Qt event (SetAfterEventProbe).
//
// Settings are read and written in a scratch working directory that is removed at the end.
//
// Besides the harness: what benchmarks of the program share. The benchmark's own threads are
// named "bench-..." (NameThisThread), so that processor time and wake-ups can be split into the
// program's and the benchmark's (UseBetween); a paced sender plays a stream to the program.
#pragma once

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "ui/platform/qt/qt_marble.h"
#include "ui/platform/qt/qt_platform.h"

class QLabel;

// Sets QT_QPA_PLATFORM to offscreen: call before the QApplication exists.
void UseOffscreenPlatform();

// The QApplication of a benchmark: calls a probe on the GUI thread after every event it
// delivers.
class ProbingApplication final : public QApplication {
  public:
    ProbingApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
    // GUI thread only; an empty function removes the probe.
    void setProbe(std::function<void()> probe) { Probe = std::move(probe); }

  private:
    std::function<void()> Probe;
};

class ProgramHarness {
  public:
    ProgramHarness();
    ~ProgramHarness();
    ProgramHarness(const ProgramHarness&) = delete;
    ProgramHarness& operator=(const ProgramHarness&) = delete;

    // False when the scratch directory could not be made.
    bool ok() const { return !WorkDirectory.empty(); }

    // Runs the program on this (the main) thread and driver on a second thread, once the
    // window and its gadgets exist. After the driver, the window's close button ends the
    // program. Returns the driver's status, or 1 when the program never became ready.
    int Run(const std::function<int()>& driver);

    // Runs fn on the GUI thread inside the program's event loop and returns its result; the
    // default value when the program does not run it within ten seconds.
    template <typename Function>
    auto OnGui(Function fn) -> decltype(fn()) {
        using Result = decltype(fn());
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(fn));
        std::future<Result> result = task->get_future();
        Platform.postToGuiThread([task] { (*task)(); });
        if (!WaitForTask(result)) {
            if constexpr (std::is_void_v<Result>) {
                return;
            } else {
                return Result{};
            }
        }
        return result.get();
    }

    // The probe runs on the GUI thread after every Qt event (set it from the driver).
    void SetAfterEventProbe(std::function<void()> probe);

    // Driver helpers (driver thread).
    void SetPort(int32_t port);
    // Clicks the Start/Stop button; true when tracking runs afterwards.
    bool PressStartButton();
    // Clicks Stop (tracking must run) and returns the milliseconds from the click on the GUI
    // thread until TrackingWorkerRunning() is false there; -1 when the worker has not ended
    // within five seconds.
    double PressStopButtonTimed();
    // When NavlumeMain returned (valid once Run has returned).
    std::chrono::steady_clock::time_point EndedAt() const { return ProgramEndedAt; }
    // The label widgets; GUI thread only.
    static QLabel* LatitudeLabelWidget();
    static QLabel* LongitudeLabelWidget();

  private:
    template <typename Result>
    bool WaitForTask(std::future<Result>& result) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (result.wait_for(std::chrono::milliseconds(50)) == std::future_status::ready) {
                return true;
            }
            if (ProgramEnded) return false;
        }
        return false;
    }

    bool WaitUntilReady();
    void PressCloseButton();

    int ArgumentCount = 1;
    char ProgramName[16] = "navlume-bench";
    char* Arguments[2] = {ProgramName, nullptr};
    std::string PreviousDirectory;
    std::string WorkDirectory;
    std::unique_ptr<ProbingApplication> Application;
    QtUiPlatform Platform{
        PlatformHomeFolders{}};  // no HOME: the settings stay in the scratch folder
    // As RunOnQt has it: Marble is followed when one is on the session bus.
    QtMarbleLink Marble;
    std::atomic<bool> ProgramEnded{false};
    std::chrono::steady_clock::time_point ProgramEndedAt;
};

// Resident memory of this process in KiB (VmRSS of /proc/self/status); 0 when unreadable.
int64_t ResidentKilobytes();

// The no-op viewer script runner: returns the empty text at once. It counts its runs and notes
// the kernel's id of the thread that made the latest one (the program's viewer thread).
char* SkipScriptRun(const char* source, int64_t start);
int64_t SkippedScriptRuns();
int64_t LatestScriptRunThread();

// Names the calling thread (at most 15 characters); the benchmark's threads are "bench-...".
void NameThisThread(const char* name);

// One thread's processor time and context switches so far, from /proc/self/task.
struct ThreadUse {
    int64_t id = 0;  // the kernel's thread id
    std::string name;
    double cpuSeconds = 0;
    int64_t wakeUps = 0;    // voluntary context switches: sleeps that ended
    int64_t preempted = 0;  // involuntary context switches
};

// The whole process's use at one moment (threads that have ended included) and its threads'.
struct UseSnapshot {
    std::chrono::steady_clock::time_point at;
    double cpuSeconds = 0;
    int64_t wakeUps = 0;
    int64_t preempted = 0;
    std::vector<ThreadUse> threads;
};

UseSnapshot TakeUse();

// What was used between two snapshots. The program's share is the whole process less the
// benchmark's threads, which must live through the whole span. Threads are those alive at the
// end, each labelled: "GUI" (the main thread), "viewer" (LatestScriptRunThread), "worker" (any
// other thread the program started), or its own name.
struct UseSpan {
    double seconds = 0;
    double cpuSeconds = 0;
    int64_t wakeUps = 0;
    int64_t preempted = 0;
    double benchCpuSeconds = 0;
    int64_t benchWakeUps = 0;
    int64_t benchPreempted = 0;
    std::vector<ThreadUse> threads;

    double programCpuSeconds() const { return cpuSeconds - benchCpuSeconds; }
    int64_t programWakeUps() const { return wakeUps - benchWakeUps; }
    int64_t programPreempted() const { return preempted - benchPreempted; }
    // A thread's share by its label; zero when there is none.
    ThreadUse Thread(const std::string& label) const;
    // "GUI 1.234 ms 10 wake-ups, worker ..." for the program's threads.
    std::string DescribeProgramThreads() const;
};

UseSpan UseBetween(const UseSnapshot& before, const UseSnapshot& after);

// Percent of one core that processorSeconds are over wallSeconds.
double PercentOfCore(double processorSeconds, double wallSeconds);

// Writes a stream to a connected socket at a steady rate, on a thread of its own named
// "bench-sender": item n of the stream is what fill(n, out) appends to out. It wakes when the
// next item is due, but at most once a millisecond, and sends everything due by then in one
// write, so the rate holds however the sleeps fall. A receiver that falls behind holds it up
// once the socket's buffers are full; it catches up when the receiver does.
class PacedSender {
  public:
    using Fill = std::function<void(int64_t item, std::string& out)>;

    PacedSender(int socket, double itemsPerSecond, Fill fill);
    ~PacedSender();
    PacedSender(const PacedSender&) = delete;
    PacedSender& operator=(const PacedSender&) = delete;

    // Stops sending and waits for the thread. Items not yet written are never written.
    void Stop();
    // Items and bytes written so far (whole writes only).
    int64_t ItemsSent() const { return Items.load(); }
    int64_t BytesSent() const { return Bytes.load(); }
    // True when a write failed (the connection was closed or reset).
    bool Failed() const { return WriteFailed.load(); }

  private:
    void Play();
    bool SendAllOrStop(const std::string& bytes);

    int Socket;
    double Rate;
    Fill FillItem;
    std::atomic<bool> StopRequested{false};
    std::atomic<bool> WriteFailed{false};
    std::atomic<int64_t> Items{0};
    std::atomic<int64_t> Bytes{0};
    std::thread Thread;  // last: it starts once everything above is ready
};
