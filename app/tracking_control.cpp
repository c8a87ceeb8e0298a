#include "app/tracking_control.h"

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

// How long Stop and Start wait for a worker to end. It wakes at once and runs no script, so
// it normally ends within a millisecond or two.
constexpr int32_t kWorkerEndWaitMs = 450;
// How long shutdown waits for the viewer thread once its script run has been ended.
constexpr int32_t kViewerEndWaitMs = 450;

// The running (or last) worker thread. GUI thread only.
ThreadNumber worker = 0;
// The limits for the next runs, and those of the running one: copied only while no worker
// runs, so a worker's limits never change under it.
TrackingLimits nextLimits;
TrackingLimits runLimits;

// Stopping the worker, the one way it is done: clear the run flag, wake the worker from whatever
// wait it is in, close the viewer mailbox and end a script run in progress, then wait for the
// worker. True when no worker runs any more.
bool EndWorker() {
    TrackingRunning.store(0);
    TrackingWake.Raise();
    ViewerClose();
    if (worker != 0 && !WaitThreadEnd(worker, kWorkerEndWaitMs)) return false;
    worker = 0;
    return true;
}

// Stops the worker for Stop, Start and an edited field. Script runs are allowed again only once
// the worker has ended: one that outlived the wait could still post a position.
bool StopWorker() {
    if (!EndWorker()) return false;
    AllowScriptRuns();
    return true;
}

void ShowIdle() {
    SetGadgetText(StartButton, "Start");
    DisableGadget(ServerField, 0);
    DisableGadget(PortField, 0);
}

int64_t PortFromField() {
    return TextToInteger(TempText(GetGadgetText, PortField).c_str());
}

// An edited server or port field means idle: no worker and the button text "Start". The fields
// are locked while tracking, so an edit normally finds nothing running; the stop stays so that a
// worker can never go on with texts other than the fields now show, whatever delivers an edit.
int64_t FieldEdited() {
    if (EventType() == TextChanged) {
        StopWorker();
        SetGadgetText(StartButton, "Start");
    }
    return 0;
}

}  // namespace

void SetTrackingLimits(const TrackingLimits& limits) {
    nextLimits = limits;
}

bool TrackingWorkerRunning() {
    return worker != 0 && ThreadIsRunning(worker);
}

int64_t StartButtonHandler() {
    ActivateGadget(StartButton);
    if (GetGadgetState(StartButton) == 0) {
        ShowIdle();
        StopWorker();
        SetWindowTitle(MainWindow, "Navlume");
        return 0;
    }

    const int64_t port = PortFromField();
    if (port < kLowestPort || port > kHighestPort) {
        ShowMessageBox("Invalid Port", "Please select a port in the range 1-65535", 0);
        SetGadgetState(StartButton, 0);
        return 0;
    }
    // Never two workers: the previous run must have ended. It always should have; if it cannot
    // be stopped, the press is refused and the title says why.
    if (worker != 0 && !StopWorker()) {
        SetGadgetState(StartButton, 0);
        SetWindowTitle(MainWindow, "Navlume - the previous run is still ending, press Start again");
        return 0;
    }

    TrackingWake.Clear();
    ViewerStart();
    ViewerOpen();
    // Set before the thread exists, so the worker sees 1 at its first look.
    TrackingRunning.store(1);
    runLimits = nextLimits;
    worker = StartThread(TrackingWorker, reinterpret_cast<int64_t>(&runLimits));
    if (worker == 0) {
        TrackingRunning.store(0);
        SetGadgetState(StartButton, 0);
        SetWindowTitle(MainWindow, "Navlume - tracking could not be started");
        return 0;
    }
    SetGadgetText(StartButton, "Stop");
    DisableGadget(ServerField, 1);
    DisableGadget(PortField, 1);
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
    const bool workerEnded = EndWorker();
    // The viewer thread may still be inside a run that was ended: runs stay refused until it
    // has ended too.
    const bool viewerEnded = ViewerStop(kViewerEndWaitMs);
    if (!workerEnded || !viewerEnded) return false;
    AllowScriptRuns();
    return true;
}
