#include "app/viewer_feed.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/globe_kml.h"
#include "app/program_values.h"
#include "app/temp_text.h"
#include "app/viewer_script.h"
#include "runtime/threads.h"
#include "ui/gadgets.h"

namespace {

// The mailbox between the worker and the viewer thread: at most one waiting position.
struct Mailbox {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool quit = false;
    bool hasWaiting = false;
    Position waiting;
    // Counts the closes. A position belongs to the generation in which it was posted; script
    // runs are allowed again (after the close's cancel) only by the viewer thread, for a
    // position of the current generation, so a position of a closed run never reaches a runner.
    uint64_t generation = 0;
    uint64_t allowedGeneration = 0;
};

Mailbox mailbox;
ThreadNumber viewerThread = 0;  // GUI thread only
std::atomic<ScriptRunner> scriptRunner{RunAppleScript};

void ShowOnGlobe(const Position& position) {
    // The distance as the track bar shows it now, not when the position arrived.
    const int64_t distance = GetGadgetState(ZoomBar);
    // The file first: it costs microseconds, the script run up to hundreds of milliseconds. A
    // failed write changes nothing for the script.
    WritePositionKml(position.latitude.c_str(), position.longitude.c_str(), distance);
    const std::string script = TempText(ComposeViewerScript, position.latitude.c_str(),
                                        position.longitude.c_str(), distance, LineBreak);
    // The result is of no interest; the call returns when the run is over.
    TempText(scriptRunner.load(), script.c_str());
}

// Viewer thread, mailbox locked: whether a position taken in generation may still be shown.
// Lets script runs start again the first time a position of a new generation is shown.
bool StillCurrent(uint64_t generation) {
    if (generation != mailbox.generation) return false;
    if (mailbox.allowedGeneration != generation) {
        AllowScriptRuns();
        mailbox.allowedGeneration = generation;
    }
    return true;
}

int64_t ViewerThread(int64_t) {
    for (;;) {
        Position next;
        {
            std::unique_lock<std::mutex> guard(mailbox.lock);
            mailbox.changed.wait(guard, [] { return mailbox.quit || mailbox.hasWaiting; });
            if (mailbox.quit) return 0;
            next = std::move(mailbox.waiting);
            mailbox.hasWaiting = false;
            if (!StillCurrent(mailbox.generation)) continue;
        }
        ShowOnGlobe(next);
    }
}

}  // namespace

bool ViewerStart() {
    if (viewerThread != 0 && ThreadIsRunning(viewerThread)) return true;
    {
        std::lock_guard<std::mutex> guard(mailbox.lock);
        mailbox.quit = false;
        mailbox.hasWaiting = false;
    }
    viewerThread = StartThread(ViewerThread, 0);
    return viewerThread != 0;
}

void ViewerOpen() {
    std::lock_guard<std::mutex> guard(mailbox.lock);
    mailbox.open = true;
}

void ViewerPost(const Position& position) {
    std::lock_guard<std::mutex> guard(mailbox.lock);
    if (!mailbox.open) return;
    mailbox.waiting = position;
    mailbox.hasWaiting = true;
    mailbox.changed.notify_one();
}

void ViewerClose() {
    std::lock_guard<std::mutex> guard(mailbox.lock);
    mailbox.open = false;
    mailbox.hasWaiting = false;
    // Inside the lock: a position the viewer thread took before this line is either already
    // in its run, which the cancel ends, or refused when it begins one.
    ++mailbox.generation;
    CancelScriptRuns();
}

bool ViewerStop(int32_t waitMs) {
    {
        std::lock_guard<std::mutex> guard(mailbox.lock);
        mailbox.quit = true;
        mailbox.changed.notify_one();
    }
    if (viewerThread == 0) return true;
    if (!WaitThreadEnd(viewerThread, waitMs)) return false;
    viewerThread = 0;
    return true;
}

void SetScriptRunner(ScriptRunner runner) {
    scriptRunner.store(runner != nullptr ? runner : RunAppleScript);
}
