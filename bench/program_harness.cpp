#include "bench/program_harness.h"

#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/navlume.h"
#include "app/program_values.h"
#include "app/tracking_control.h"
#include "runtime/temp_buffer.h"
#include "ui/ui.h"

namespace {

constexpr auto kReadyWait = std::chrono::seconds(10);
constexpr auto kWorkerEndLimit = std::chrono::seconds(5);
constexpr auto kWorkerEndCheck = std::chrono::microseconds(50);
// The paced sender never wakes more often than this, and never writes more than this at once.
constexpr auto kSenderStep = std::chrono::milliseconds(1);
constexpr size_t kLargestWrite = 256 * 1024;
constexpr int kBlockedWriteCheckMs = 10;
constexpr const char* kBenchThreadPrefix = "bench-";

std::atomic<int64_t> scriptRuns{0};
std::atomic<int64_t> scriptRunThread{0};

std::string FirstLineOf(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

// The number after "key:" in a /proc status file; 0 when there is none.
int64_t StatusNumber(const std::string& path, const char* key) {
    std::ifstream status(path);
    const std::string prefix = std::string(key) + ":";
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::strtoll(line.c_str() + prefix.size(), nullptr, 10);
        }
    }
    return 0;
}

bool IsBenchThread(const ThreadUse& thread) {
    return thread.name.rfind(kBenchThreadPrefix, 0) == 0;
}

QWidget* GadgetWidget(int64_t gadget) {
    const Ky_GadgetStructure* record = GadgetRecord(gadget);
    return record != nullptr ? QtUiPlatform::viewWidget(record->view) : nullptr;
}

// The offscreen platform says of each window that it cannot do what only a window manager
// would; those notices are dropped, every other message goes where it went before.
QtMessageHandler previousMessageHandler = nullptr;

void DropOffscreenNotices(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support"))) return;
    if (previousMessageHandler != nullptr) previousMessageHandler(type, context, message);
}

}  // namespace

void UseOffscreenPlatform() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (previousMessageHandler == nullptr) {
        previousMessageHandler = qInstallMessageHandler(DropOffscreenNotices);
    }
}

bool ProbingApplication::notify(QObject* receiver, QEvent* event) {
    const bool handled = QApplication::notify(receiver, event);
    if (Probe) Probe();
    return handled;
}

ProgramHarness::ProgramHarness()
    : Application((UseOffscreenPlatform(),
                   std::make_unique<ProbingApplication>(ArgumentCount, Arguments))) {
    std::error_code error;
    PreviousDirectory = std::filesystem::current_path(error).string();
    // Not inside a bundle, the program stays in the working directory and keeps its
    // settings there: a scratch directory keeps them out of the build tree.
    char pattern[] = "/tmp/navlume-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    std::filesystem::current_path(pattern, error);
    if (error) {
        std::filesystem::remove(pattern, error);
        return;
    }
    WorkDirectory = pattern;
    SetUiPlatform(&Platform);
}

ProgramHarness::~ProgramHarness() {
    SetUiPlatform(nullptr);
    std::error_code ignored;
    if (!PreviousDirectory.empty()) std::filesystem::current_path(PreviousDirectory, ignored);
    if (!WorkDirectory.empty()) std::filesystem::remove_all(WorkDirectory, ignored);
}

int ProgramHarness::Run(const std::function<int()>& driver) {
    if (!ok()) {
        std::fprintf(stderr, "no scratch directory for the settings\n");
        return 1;
    }
    int status = 1;
    std::thread user([this, &driver, &status] {
        NameThisThread("bench-driver");
        if (WaitUntilReady()) {
            status = driver();
        } else {
            std::fprintf(stderr, "the program's window did not come up\n");
        }
        PressCloseButton();
    });
    NavlumeMain();
    ProgramEndedAt = std::chrono::steady_clock::now();
    ProgramEnded = true;
    user.join();
    return status;
}

void ProgramHarness::SetAfterEventProbe(std::function<void()> probe) {
    OnGui([this, probe = std::move(probe)] { Application->setProbe(probe); });
}

bool ProgramHarness::WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + kReadyWait;
    while (std::chrono::steady_clock::now() < deadline && !ProgramEnded) {
        // Tasks run only inside the event loop's wait, so the start-up is complete when the
        // gadgets answer.
        if (OnGui([] {
                return LatitudeLabelWidget() != nullptr && LongitudeLabelWidget() != nullptr &&
                       GadgetWidget(StartButton) != nullptr && GadgetWidget(PortField) != nullptr;
            })) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void ProgramHarness::SetPort(int32_t port) {
    OnGui([port] { SetGadgetText(PortField, std::to_string(port).c_str()); });
}

bool ProgramHarness::PressStartButton() {
    return OnGui([] {
        auto* button = qobject_cast<QAbstractButton*>(GadgetWidget(StartButton));
        if (button == nullptr) return false;
        button->click();
        return TrackingRunning.load() == 1;
    });
}

double ProgramHarness::PressStopButtonTimed() {
    return OnGui([] {
        auto* button = qobject_cast<QAbstractButton*>(GadgetWidget(StartButton));
        if (button == nullptr || !TrackingWorkerRunning()) return -1.0;
        const auto clicked = std::chrono::steady_clock::now();
        button->click();
        const auto deadline = clicked + kWorkerEndLimit;
        while (TrackingWorkerRunning()) {
            if (std::chrono::steady_clock::now() >= deadline) return -1.0;
            std::this_thread::sleep_for(kWorkerEndCheck);
        }
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - clicked)
            .count();
    });
}

void ProgramHarness::PressCloseButton() {
    OnGui([] {
        if (QWidget* window = QtUiPlatform::windowWidget(WindowHandle(MainWindow))) {
            window->close();
        }
    });
}

QLabel* ProgramHarness::LatitudeLabelWidget() {
    return qobject_cast<QLabel*>(GadgetWidget(LatitudeLabel));
}

QLabel* ProgramHarness::LongitudeLabelWidget() {
    return qobject_cast<QLabel*>(GadgetWidget(LongitudeLabel));
}

int64_t ResidentKilobytes() {
    return StatusNumber("/proc/self/status", "VmRSS");
}

char* SkipScriptRun(const char*, int64_t start) {
    scriptRuns.fetch_add(1, std::memory_order_relaxed);
    scriptRunThread.store(gettid(), std::memory_order_relaxed);
    return TempEmptyAt(start);
}

int64_t SkippedScriptRuns() {
    return scriptRuns.load();
}

int64_t LatestScriptRunThread() {
    return scriptRunThread.load();
}

void NameThisThread(const char* name) {
    pthread_setname_np(pthread_self(), name);
}

UseSnapshot TakeUse() {
    UseSnapshot snapshot;
    snapshot.at = std::chrono::steady_clock::now();
    timespec time{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
    snapshot.cpuSeconds =
        static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    snapshot.wakeUps = usage.ru_nvcsw;
    snapshot.preempted = usage.ru_nivcsw;

    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const std::string directory = entry.path().string();
        ThreadUse thread;
        thread.id = std::strtoll(entry.path().filename().c_str(), nullptr, 10);
        thread.name = FirstLineOf(directory + "/comm");
        // The first number of schedstat is the time on a processor in nanoseconds.
        thread.cpuSeconds = static_cast<double>(std::strtoll(
                                FirstLineOf(directory + "/schedstat").c_str(), nullptr, 10)) /
                            1e9;
        thread.wakeUps = StatusNumber(directory + "/status", "voluntary_ctxt_switches");
        thread.preempted = StatusNumber(directory + "/status", "nonvoluntary_ctxt_switches");
        snapshot.threads.push_back(std::move(thread));
    }
    return snapshot;
}

UseSpan UseBetween(const UseSnapshot& before, const UseSnapshot& after) {
    UseSpan span;
    span.seconds = std::chrono::duration<double>(after.at - before.at).count();
    span.cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    span.wakeUps = after.wakeUps - before.wakeUps;
    span.preempted = after.preempted - before.preempted;

    const int64_t mainThread = getpid();
    std::string mainName;
    for (const ThreadUse& thread : after.threads) {
        if (thread.id == mainThread) mainName = thread.name;
    }
    for (const ThreadUse& thread : after.threads) {
        ThreadUse used = thread;
        for (const ThreadUse& earlier : before.threads) {
            if (earlier.id != thread.id) continue;
            used.cpuSeconds -= earlier.cpuSeconds;
            used.wakeUps -= earlier.wakeUps;
            used.preempted -= earlier.preempted;
        }
        if (IsBenchThread(used)) {
            span.benchCpuSeconds += used.cpuSeconds;
            span.benchWakeUps += used.wakeUps;
            span.benchPreempted += used.preempted;
        } else if (used.id == mainThread) {
            used.name = "GUI";
        } else if (used.id == LatestScriptRunThread()) {
            used.name = "viewer";
        } else if (used.name == mainName) {
            // Threads inherit their creator's name; the program names none of its own.
            used.name = "worker";
        }
        span.threads.push_back(std::move(used));
    }
    return span;
}

ThreadUse UseSpan::Thread(const std::string& label) const {
    ThreadUse sum;
    sum.name = label;
    for (const ThreadUse& thread : threads) {
        if (thread.name != label) continue;
        sum.cpuSeconds += thread.cpuSeconds;
        sum.wakeUps += thread.wakeUps;
        sum.preempted += thread.preempted;
    }
    return sum;
}

std::string UseSpan::DescribeProgramThreads() const {
    std::vector<ThreadUse> program;
    for (const ThreadUse& thread : threads) {
        if (!IsBenchThread(thread)) program.push_back(thread);
    }
    // The program's own threads first, in a fixed order, then any others by name.
    auto rank = [](const ThreadUse& thread) {
        if (thread.name == "GUI") return 0;
        if (thread.name == "worker") return 1;
        if (thread.name == "viewer") return 2;
        return 3;
    };
    std::stable_sort(program.begin(), program.end(), [&](const ThreadUse& a, const ThreadUse& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a.name < b.name;
    });
    std::string text;
    for (const ThreadUse& thread : program) {
        char part[160];
        std::snprintf(part, sizeof part, "%s%s %.3f ms %lld wake-ups", text.empty() ? "" : ", ",
                      thread.name.c_str(), thread.cpuSeconds * 1e3,
                      static_cast<long long>(thread.wakeUps));
        text += part;
        if (thread.preempted != 0) {
            std::snprintf(part, sizeof part, " (%lld preempted)",
                          static_cast<long long>(thread.preempted));
            text += part;
        }
    }
    return text;
}

double PercentOfCore(double processorSeconds, double wallSeconds) {
    return wallSeconds > 0 ? 100.0 * processorSeconds / wallSeconds : 0;
}

PacedSender::PacedSender(int socket, double itemsPerSecond, Fill fill)
    : Socket(socket), Rate(itemsPerSecond), FillItem(std::move(fill)), Thread([this] { Play(); }) {}

PacedSender::~PacedSender() {
    Stop();
}

void PacedSender::Stop() {
    StopRequested = true;
    if (Thread.joinable()) Thread.join();
}

void PacedSender::Play() {
    NameThisThread("bench-sender");
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::string batch;
    int64_t next = 0;
    while (!StopRequested) {
        // Item n is due n / Rate seconds after the start.
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = static_cast<int64_t>(elapsed * Rate) + 1;
        batch.clear();
        int64_t upTo = next;
        while (upTo < due && batch.size() < kLargestWrite)
            FillItem(upTo++, batch);
        if (!batch.empty()) {
            if (!SendAllOrStop(batch)) return;
            next = upTo;
            Items.store(next);
            Bytes.fetch_add(static_cast<int64_t>(batch.size()));
        }
        if (next < due) continue;  // behind: catch up before sleeping
        const auto nextDue =
            start + std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(next) / Rate));
        std::this_thread::sleep_until(std::max(nextDue, Clock::now() + kSenderStep));
    }
}

// Writes without blocking, so that Stop is heard while the receiver holds the stream up. False
// when stopped or when the connection failed (then WriteFailed is set).
bool PacedSender::SendAllOrStop(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (StopRequested) return false;
        const ssize_t sent =
            send(Socket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            pollfd entry{Socket, POLLOUT, 0};
            poll(&entry, 1, kBlockedWriteCheckMs);
        } else {
            WriteFailed = true;
            return false;
        }
    }
    return true;
}
