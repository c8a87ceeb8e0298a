// Runs the real tracker for a benchmark: NavlumeMain with its event loop on the main thread, on
// Qt's offscreen platform, while a driver function on a second thread plays the user through
// tasks that run on the GUI thread. The program's own code is not changed or wrapped; what a
// benchmark observes it reads from the Qt widgets after each Qt event (SetAfterEventProbe).
//
// Settings are read and written in a scratch working directory that is removed at the end.
#pragma once

#include <QApplication>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <type_traits>

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
    QtUiPlatform Platform;
    std::atomic<bool> ProgramEnded{false};
};

// Resident memory of this process in KiB (VmRSS of /proc/self/status); 0 when unreadable.
int64_t ResidentKilobytes();

// The no-op viewer script runner: returns the empty text at once.
char* SkipScriptRun(const char* source, int64_t start);
