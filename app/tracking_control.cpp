#include "app/tracking_control.h"

#include <atomic>

#include "app/program_values.h"
#include "app/temp_text.h"
#include "app/viewer_feed.h"
#include "runtime/number_text.h"
#include "runtime/threads.h"
#include "ui/event_queue.h"
#include "ui/gadgets.h"
#include "ui/message_box.h"
#include "ui/platform/script_runner.h"
#include "ui/windows.h"

namespace {

// How long shutdown waits, at most, for the worker and then for the viewer thread. Both wake
// at once: the worker runs no script, and the viewer's runner is killed without a grace.
constexpr int32_t kWorkerEndWaitMs = 450;
constexpr int32_t kViewerEndWaitMs = 450;

// The running (or ending) worker thread. GUI thread only.
ThreadNumber worker = 0;
// True from the start of a worker until its tracking run has returned (set by the worker's
// thread at its very end), so that a new run never overlaps the previous one.
std::atomic<bool> workerBusy{false};
// Start was pressed while the previous worker was still ending: the new run begins as soon as
// that worker has ended. GUI thread only.
bool startWaiting = false;
// The limits for the next runs, and those of the running one: copied only while no worker
// runs, so a worker's limits never change under it. GUI thread only.
TrackingLimits nextLimits;
TrackingLimits runLimits;

void StartWaitingRun();

// GUI thread, posted by a worker that has ended: begins the run that waited for it.
void WorkerEnded() {
    if (startWaiting && !workerBusy.load()) StartWaitingRun();
}

int64_t WorkerThread(int64_t argument) {
    TrackingWorker(argument);
    workerBusy.store(false);
    PostToGuiThread(WorkerEnded);
    return 0;
}

// Stopping the worker, the one way it is done: clear the run flag, wake the worker from
// whatever wait it is in, close the viewer mailbox and end a script run in progress. Nothing
// here waits: the worker ends within a millisecond or two, the run on the viewer thread soon
// after, and a Start meanwhile waits for the worker (startWaiting).
void EndWorker() {
    startWaiting = false;
    TrackingRunning.store(0);
    TrackingWake.Raise();
    ViewerClose();
}

void ShowIdle() {
    SetGadgetText(StartButton, "Start");
    DisableGadget(ServerField, 0);
    DisableGadget(PortField, 0);
}

void ShowTracking() {
    SetGadgetText(StartButton, "Stop");
    DisableGadget(ServerField, 1);
    DisableGadget(PortField, 1);
}

// Starts the worker; the previous one has ended. False (the window back at idle, the title
// saying why) when no thread can be started.
bool LaunchWorker() {
    TrackingWake.Clear();
    ViewerStart();
    ViewerOpen();
    // Set before the thread exists, so the worker sees 1 at its first look.
    TrackingRunning.store(1);
    workerBusy.store(true);
    runLimits = nextLimits;
    worker = StartThread(WorkerThread, reinterpret_cast<int64_t>(&runLimits));
    if (worker != 0) return true;
    workerBusy.store(false);
    TrackingRunning.store(0);
    ViewerClose();
    SetGadgetState(StartButton, 0);
    SetWindowTitle(MainWindow, "Navlume - tracking could not be started");
    return false;
}

void StartWaitingRun() {
    startWaiting = false;
    if (!LaunchWorker()) ShowIdle();
}

int64_t PortFromField() {
    return TextToInteger(TempText(GetGadgetText, PortField).c_str());
}

// An edited server or port field means idle: no worker and the button text "Start". The fields
// are locked while tracking, so an edit normally finds nothing running; the stop stays so that a
// worker can never go on with texts other than the fields now show, whatever delivers an edit.
int64_t FieldEdited() {
    if (EventType() == TextChanged) {
        EndWorker();
        SetGadgetText(StartButton, "Start");
    }
    return 0;
}

}  // namespace

void SetTrackingLimits(const TrackingLimits& limits) {
    nextLimits = limits;
}

bool TrackingWorkerRunning() {
    // A Start that waits for the previous worker counts: between that worker's end and the
    // launch of the next one, the run is still under way.
    return startWaiting || (worker != 0 && ThreadIsRunning(worker));
}

int64_t StartButtonHandler() {
    ActivateGadget(StartButton);
    if (GetGadgetState(StartButton) == 0) {
        ShowIdle();
        EndWorker();
        SetWindowTitle(MainWindow, "Navlume");
        return 0;
    }

    const int64_t port = PortFromField();
    if (port < kLowestPort || port > kHighestPort) {
        ShowMessageBox("Invalid Port", "Please select a port in the range 1-65535", 0);
        SetGadgetState(StartButton, 0);
        return 0;
    }
    // Never two workers: while the previous one is still ending, the new run waits for it
    // (the ending worker starts it from the GUI thread), and the window shows tracking now.
    if (workerBusy.load()) {
        startWaiting = true;
        ShowTracking();
        return 0;
    }
    if (LaunchWorker()) ShowTracking();
    return 0;
}

int64_t ServerFieldHandler() {
    return FieldEdited();
}

int64_t PortFieldHandler() {
    return FieldEdited();
}

int64_t ZoomBarHandler() {
    ActivateGadget(ZoomBar);
    return 0;
}

bool StopTrackingAndWait() {
    EndWorker();
    // The program ends: a runner is not given its grace (it would hold the shutdown up), and
    // script runs stay refused.
    CancelScriptRuns(ScriptRunEnd::AtOnce);
    const bool workerEnded = worker == 0 || WaitThreadEnd(worker, kWorkerEndWaitMs);
    if (workerEnded) worker = 0;
    const bool viewerEnded = ViewerStop(kViewerEndWaitMs);
    return workerEnded && viewerEnded;
}
