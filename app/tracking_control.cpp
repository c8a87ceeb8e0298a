#include "app/tracking_control.h"

#include "app/program_values.h"
#include "app/tracking_worker.h"
#include "runtime/number_text.h"
#include "runtime/temp_buffer.h"
#include "runtime/threads.h"
#include "ui/event_queue.h"
#include "ui/gadgets.h"
#include "ui/message_box.h"
#include "ui/platform/script_runner.h"

namespace {

// How long Start waits for a worker that is still finishing its last cycle after Stop (a
// cycle is 10 ms plus a script run); if it is not done by then, Start is refused.
constexpr int32_t kPreviousWorkerWaitMs = 300;
// How long shutdown waits for the worker after stopping its connect and script run.
constexpr int32_t kShutdownWaitMs = 450;

// The running (or last) worker thread. GUI thread only.
ThreadNumber worker = 0;

void ShowIdle() {
    TrackingRunning.store(0);
    SetGadgetText(StartButton, "Start");
    DisableGadget(ServerField, 0);
    DisableGadget(PortField, 0);
}

int64_t PortFromField() {
    TempScope scope;
    return TextToInteger(GetGadgetText(PortField, scope.start()));
}

// Clears the flag and the button text when the user edits a field.
int64_t FieldEdited() {
    if (EventType() == TextChanged) {
        TrackingRunning.store(0);
        SetGadgetText(StartButton, "Start");
    }
    return 0;
}

}  // namespace

bool TrackingWorkerRunning() {
    return worker != 0 && ThreadIsRunning(worker);
}

int64_t StartButtonHandler() {
    ActivateGadget(StartButton);
    if (GetGadgetState(StartButton) == 0) {
        ShowIdle();
        return 0;
    }

    const int64_t port = PortFromField();
    if (port < kLowestPort || port > kHighestPort) {
        ShowMessageBox("Invalid Port", "Please select a port in the range 1-65535", 0);
        SetGadgetState(StartButton, 0);
        return 0;
    }
    // Never two workers: the previous run must have ended. It normally has, or ends within
    // one cycle; one stuck in a slow script run makes this press do nothing.
    if (TrackingWorkerRunning() && !WaitThreadEnd(worker, kPreviousWorkerWaitMs)) {
        SetGadgetState(StartButton, 0);
        return 0;
    }

    // Set before the thread exists, so the worker sees 1 at its first look.
    TrackingRunning.store(1);
    worker = StartThread(TrackingWorker, 0);
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
    TrackingRunning.store(0);
    if (!TrackingWorkerRunning()) return true;
    // The cancellable connect sees the flag; a hanging script run is ended here.
    CancelScriptRuns();
    const bool ended = WaitThreadEnd(worker, kShutdownWaitMs);
    AllowScriptRuns();
    return ended;
}
