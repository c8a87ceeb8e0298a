// How long Stop, the close button and Quit hold the GUI thread, through the real program
// (NavlumeMain on offscreen Qt), in the states where something could hold them up:
//   - a hanging viewer: the real script runner on a runner that ignores SIGTERM and sleeps;
//   - a hanging connect: the server's accept queue is full, so the connect never completes;
//   - a flooding server: 10 000 sentences a second.
// For Stop: the time inside the click on the GUI thread (the handler, until the event loop has
// the thread back), and until the worker has ended. For close and Quit: the time inside the
// click or menu choice, and until NavlumeMain has returned (the loop ended, the settings saved,
// the worker and the viewer thread ended or given up). Each case runs several times; the
// figures are the median and the largest.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/program_values.h"
#include "app/tracking_control.h"
#include "app/viewer_feed.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "tests/support/loopback_server.h"
#include "ui/platform/script_runner.h"
#include "ui/ui.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRepeats = 5;
constexpr double kFloodRate = 10000;

enum class State { HangingViewer, HangingConnect, Flood };
enum class UserAction { Stop, Close, Quit };

const char* Name(State state) {
    switch (state) {
        case State::HangingViewer:
            return "hanging viewer";
        case State::HangingConnect:
            return "hanging connect";
        case State::Flood:
            return "flooding server";
    }
    return "";
}

const char* Name(UserAction action) {
    switch (action) {
        case UserAction::Stop:
            return "Stop";
        case UserAction::Close:
            return "close";
        case UserAction::Quit:
            return "Quit";
    }
    return "";
}

std::string hangingRunner;
std::atomic<int64_t> runsStarted{0};

char* RunHanging(const char* source, int64_t start) {
    runsStarted.fetch_add(1);
    return RunScriptWith(hangingRunner.c_str(), source, start);
}

double Milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

QWidget* StartButtonWidget() {
    const Ky_GadgetStructure* record = GadgetRecord(StartButton);
    return record != nullptr ? QtUiPlatform::viewWidget(record->view) : nullptr;
}

QAction* QuitAction() {
    for (QWidget* widget : QApplication::allWidgets()) {
        auto* menu = qobject_cast<QMenu*>(widget);
        if (menu == nullptr) continue;
        for (QAction* action : menu->actions()) {
            if (action->text().startsWith(QLatin1String("Quit"))) return action;
        }
    }
    return nullptr;
}

struct Sample {
    double handler = -1;  // inside the click or menu choice
    double ended = -1;    // until the worker ended (Stop) or NavlumeMain returned
};

// Brings the program into state and acts; fills sample. 0 when it worked.
int Drive(ProgramHarness& harness, State state, UserAction action, Sample* sample,
          Clock::time_point* actedAt) {
    std::unique_ptr<LoopbackServer> server;
    std::unique_ptr<SilentServer> silent;
    std::unique_ptr<PacedSender> flood;
    if (state == State::HangingConnect) {
        silent = std::make_unique<SilentServer>();
        if (!silent->Silent()) return 1;
        harness.SetPort(silent->port());
    } else {
        server = std::make_unique<LoopbackServer>();
        harness.SetPort(server->port());
    }
    const int64_t runsBefore = runsStarted.load();
    if (!harness.PressStartButton()) return 1;
    if (server) {
        const int client = server->Accept();
        if (client < 0) return 1;
        if (state == State::HangingViewer) {
            if (!SendAll(client, NumberedSentence(1))) return 1;
            const auto deadline = Clock::now() + std::chrono::seconds(3);
            while (runsStarted.load() == runsBefore && Clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (runsStarted.load() == runsBefore) return 1;
        } else {
            flood = std::make_unique<PacedSender>(
                client, kFloodRate,
                [](int64_t item, std::string& out) { AppendNumberedSentence(item + 2, out); });
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the state holds

    *actedAt = Clock::now();
    if (action == UserAction::Stop) {
        *sample = harness.OnGui([] {
            Sample result;
            auto* button = qobject_cast<QAbstractButton*>(StartButtonWidget());
            if (button == nullptr) return result;
            const Clock::time_point clicked = Clock::now();
            button->click();
            result.handler = Milliseconds(Clock::now() - clicked);
            return result;
        });
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (harness.OnGui([] { return TrackingWorkerRunning(); }) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        sample->ended = Milliseconds(Clock::now() - *actedAt);
    } else {
        sample->handler = harness.OnGui([action] {
            const Clock::time_point clicked = Clock::now();
            if (action == UserAction::Close) {
                if (QWidget* window = QtUiPlatform::windowWidget(WindowHandle(MainWindow)))
                    window->close();
            } else if (QAction* quit = QuitAction()) {
                quit->trigger();
            }
            return Milliseconds(Clock::now() - clicked);
        });
    }
    if (flood) flood->Stop();
    return 0;
}

void Print(State state, UserAction action, std::vector<Sample> samples) {
    auto figure = [&samples](double Sample::*field, const char* what) {
        std::vector<double> values;
        for (const Sample& sample : samples)
            values.push_back(sample.*field);
        std::sort(values.begin(), values.end());
        std::printf("%s median %7.3f ms, max %7.3f ms", what, values[values.size() / 2],
                    values.back());
    };
    std::printf("  %-16s %-6s ", Name(state), Name(action));
    figure(&Sample::handler, "event loop held:");
    std::printf(";  %s", action == UserAction::Stop ? "worker ended:" : "program ended:");
    figure(&Sample::ended, "");
    std::printf("\n");
}

}  // namespace

int main() {
    const std::filesystem::path runner =
        std::filesystem::temp_directory_path() / "navlume-stop-bench-osascript";
    std::ofstream(runner) << "#!/bin/sh\ntrap '' TERM\ncat >/dev/null\nexec sleep 30\n";
    std::filesystem::permissions(runner, std::filesystem::perms::owner_all);
    hangingRunner = runner.string();
    std::printf(
        "Stop, close and Quit: how long the GUI thread is held (real program on offscreen Qt; "
        "%d runs each)\n",
        kRepeats);
    for (const State state : {State::HangingViewer, State::HangingConnect, State::Flood}) {
        for (const UserAction action : {UserAction::Stop, UserAction::Close, UserAction::Quit}) {
            std::vector<Sample> samples;
            for (int repeat = 0; repeat < kRepeats; ++repeat) {
                Sample sample;
                Clock::time_point actedAt;
                ProgramHarness harness;
                SetScriptRunner(state == State::HangingViewer ? RunHanging : SkipScriptRun);
                const int status =
                    harness.Run([&] { return Drive(harness, state, action, &sample, &actedAt); });
                SetScriptRunner(nullptr);
                if (status != 0) {
                    std::fprintf(stderr, "%s / %s: the state could not be set up\n", Name(state),
                                 Name(action));
                    return status;
                }
                if (action != UserAction::Stop)
                    sample.ended = Milliseconds(harness.EndedAt() - actedAt);
                samples.push_back(sample);
            }
            Print(state, action, samples);
        }
    }
    std::printf("  aim: the event loop back within 50 ms in every case\n");
    std::filesystem::remove(runner);
    return 0;
}
