#include "app/viewer_feed.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <vector>

#include "app/globe_kml.h"
#include "app/program_values.h"
#include "app/temp_text.h"
#include "app/trail.h"
#include "app/viewer_script.h"
#include "runtime/threads.h"
#include "ui/gadgets.h"
#include "ui/platform/marble_link.h"

namespace {

// The mailbox between the worker and the viewer thread: at most one waiting position, and the
// trail points that arrived since the viewer last took one. Should the viewer stall, the points
// are capped at what a trail keeps (plus as many again, so that dropping is rare).
struct Mailbox {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    bool quit = false;
    bool hasWaiting = false;
    bool newTrail = false;
    Position waiting;
    std::vector<TrailPoint> joining;
    // Counts the closes. Script runs are allowed again (after the close's cancel) only by the
    // viewer thread, when it takes a position posted after the close, so a position of a closed
    // run never reaches a runner.
    uint64_t generation = 0;
    uint64_t allowedGeneration = 0;
};

constexpr size_t kMostJoining = 2 * Trail::kMostPoints;

Mailbox mailbox;
ThreadNumber viewerThread = 0;  // GUI thread only
std::atomic<ScriptRunner> scriptRunner{RunAppleScript};

std::atomic<int32_t> positionFileEveryMs{kPositionFileEveryMs};

// The position file as the viewer thread keeps it: a globe that follows it looks again once a
// second, so a fast stream would cost a file creation per position for nothing. It is written
// at most every positionFileEveryMs; a newer position waits until that time is up (or the
// viewer thread ends) and is then written, unless a newer one still has replaced it.
struct PositionFile {
    using Clock = std::chrono::steady_clock;

    Clock::time_point nextWrite{};  // no write before this
    bool behind = false;            // the newest position is not in the file yet
    Position position;
    int64_t distance = 0;

    void Take(const Position& newest, int64_t newestDistance, const Trail& trail) {
        position = newest;
        distance = newestDistance;
        behind = true;
        if (Clock::now() >= nextWrite) Write(trail);
    }

    // A failed write changes nothing for the other viewers; the next position tries again.
    void Write(const Trail& trail) {
        WritePositionKml(position, trail, distance);
        behind = false;
        nextWrite = Clock::now() + std::chrono::milliseconds(positionFileEveryMs.load());
    }
};

void ShowOnGlobe(const Position& position, const Trail& trail, PositionFile& file) {
    // The distance as the track bar shows it now, not when the position arrived.
    const int64_t distance = GetGadgetState(ZoomBar);
    // The file and Marble first: they cost microseconds, the script run up to hundreds of
    // milliseconds.
    file.Take(position, distance, trail);
    MoveMarble(position.longitudeDegrees, position.latitudeDegrees,
               MarbleZoomForDistance(distance));
    const std::string script = TempText(ComposeViewerScript, position.latitude.c_str(),
                                        position.longitude.c_str(), distance, LineBreak);
    // The result is of no interest; the call returns when the run is over.
    TempText(scriptRunner.load(), script.c_str());
}

// Viewer thread, mailbox locked, a position just taken: the first position after a close lets
// script runs start again. (A position taken before the close was dropped by it or finds runs
// refused.)
void AllowRunsAfterClose() {
    if (mailbox.allowedGeneration == mailbox.generation) return;
    AllowScriptRuns();
    mailbox.allowedGeneration = mailbox.generation;
}

int64_t ViewerThread(int64_t) {
    Trail trail;  // this thread's alone
    std::vector<TrailPoint> joining;
    PositionFile file;
    for (;;) {
        Position next;
        {
            std::unique_lock<std::mutex> guard(mailbox.lock);
            const auto ready = [] { return mailbox.quit || mailbox.hasWaiting; };
            if (!file.behind) {
                mailbox.changed.wait(guard, ready);
            } else if (!mailbox.changed.wait_until(guard, file.nextWrite, ready)) {
                // Its time has come, and no newer position is there to take its place.
                guard.unlock();
                file.Write(trail);
                continue;
            }
            if (mailbox.quit) {
                guard.unlock();
                // The file ends at the newest position the viewer has taken.
                if (file.behind) file.Write(trail);
                return 0;
            }
            next = std::move(mailbox.waiting);
            mailbox.hasWaiting = false;
            if (mailbox.newTrail) trail.Clear();
            mailbox.newTrail = false;
            // Both keep their capacity: after the first positions nothing is allocated here.
            joining.swap(mailbox.joining);
            AllowRunsAfterClose();
        }
        for (const TrailPoint& point : joining)
            trail.Add(point);
        joining.clear();
        ShowOnGlobe(next, trail, file);
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
    mailbox.newTrail = true;
    mailbox.joining.clear();
}

void ViewerPost(std::span<const Position> positions) {
    if (positions.empty()) return;
    {
        std::lock_guard<std::mutex> guard(mailbox.lock);
        if (!mailbox.open) return;
        try {
            for (const Position& position : positions)
                mailbox.joining.push_back(MakeTrailPoint(position));
            if (mailbox.joining.size() > kMostJoining) {
                mailbox.joining.erase(mailbox.joining.begin(),
                                      mailbox.joining.end() - Trail::kMostPoints);
            }
            mailbox.waiting = positions.back();
        } catch (const std::bad_alloc&) {
            return;  // the position is lost, the next one comes
        }
        mailbox.hasWaiting = true;
    }
    // After the unlock: a viewer woken inside the lock would only wake to wait for it again,
    // two wake-ups a position instead of one.
    mailbox.changed.notify_one();
}

void ViewerClose() {
    std::lock_guard<std::mutex> guard(mailbox.lock);
    mailbox.open = false;
    mailbox.hasWaiting = false;
    mailbox.joining.clear();
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

void SetPositionFileEvery(int32_t milliseconds) {
    positionFileEveryMs.store(milliseconds > 0 ? milliseconds : 0);
}

void SetScriptRunner(ScriptRunner runner) {
    scriptRunner.store(runner != nullptr ? runner : RunAppleScript);
}
