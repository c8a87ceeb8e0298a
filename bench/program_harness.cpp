#include "bench/program_harness.h"

#include <stdlib.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/navlume.h"
#include "app/program_values.h"
#include "runtime/temp_buffer.h"
#include "ui/ui.h"

namespace {

constexpr auto kReadyWait = std::chrono::seconds(10);

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
        if (WaitUntilReady()) {
            status = driver();
        } else {
            std::fprintf(stderr, "the program's window did not come up\n");
        }
        PressCloseButton();
    });
    NavlumeMain();
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
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtoll(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

char* SkipScriptRun(const char*, int64_t start) {
    return TempEmptyAt(start);
}
