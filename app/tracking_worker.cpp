#include "app/tracking_worker.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "app/globe_kml.h"
#include "app/position_pace.h"
#include "app/program_values.h"
#include "app/rmc_sentence.h"
#include "app/sentence_lines.h"
#include "app/temp_text.h"
#include "app/viewer_feed.h"
#include "runtime/memory_block.h"
#include "runtime/network.h"
#include "runtime/number_text.h"
#include "ui/gadgets.h"
#include "ui/windows.h"

namespace {

// One receive takes in everything a fast source has queued meanwhile (the socket's buffer is
// of this order), so the display never falls behind the stream.
constexpr int32_t kReceiveSize = 65536;
// From this attempt on the pause is the longest (the first doubled four times).
constexpr int32_t kAttemptOfLongestPause = 4;
constexpr double kPauseSpread = 0.1;
// A chatty source (gpsd writes every sentence of a receiver's burst on its own, a hundred a
// second and more) would cost a wake-up a sentence the worker mostly throws away. So when data
// comes within kChattyWithinMs of the worker's starting to wait, and this receive or the one
// before carried more than positions, the socket is left alone for a gap after the receive,
// and what is written meanwhile comes in one receive. A stream quiet between its writes (one
// position every 100 ms), or one of positions only, never waits a gap: there a gap would only
// add a wake-up or hold a position back. After a position the gap is longer: the next fix of a
// 1-10 Hz receiver is at least 100 ms away, so waiting costs it nothing; once the positions'
// pace is known, it lasts until shortly before the next one is due. After other data it is
// short, as a position may follow at once: one that comes within the gap waits at most that
// long, 40 ms, which no one watching the labels or a globe can tell. Gaps count from the
// wake-up.
constexpr int32_t kChattyWithinMs = 20;
constexpr int32_t kGapAfterPositionMs = 80;
constexpr int32_t kGapAfterOtherDataMs = 40;

enum class StreamEnd { Stopped, Lost, Silent };

// What one connection's lines have given so far.
struct Reading {
    ConnectionNumber connection = 0;
    bool firstLine = true;
    std::vector<Position> accepted;  // in the current receive, oldest first
    size_t lines = 0;                // complete lines in the current receive
};

bool Running() {
    return TrackingRunning.load() != 0;
}

void ShowTitle(const std::string& title) {
    SetWindowTitle(MainWindow, title.c_str());
}

// Sleeps for milliseconds unless tracking is stopped first. True when it was stopped.
bool PauseUnlessStopped(int32_t milliseconds) {
    pollfd wake = {TrackingWake.Fd(), POLLIN, 0};
    poll(&wake, wake.fd >= 0 ? 1 : 0, milliseconds);
    return !Running();
}

void TakeLine(const char* line, size_t length, void* context) {
    auto* reading = static_cast<Reading*>(context);
    ++reading->lines;
    if (reading->firstLine) {
        reading->firstLine = false;
        // gpsd greets and then waits to be told what to send: its receiver's NMEA, please.
        if (IsGpsdGreeting(line, length)) {
            ConnectionSend(reading->connection, kGpsdWatchRequest,
                           static_cast<int32_t>(std::strlen(kGpsdWatchRequest)));
            return;
        }
    }
    Position position;
    if (JudgeRmcLine(line, length, &position)) reading->accepted.push_back(std::move(position));
}

// Reads the connection until it ends, falls silent or tracking stops. Of the positions that
// one receive brings, only the newest is shown: the labels cannot show the others anyway.
StreamEnd ReadStream(ConnectionNumber connection, const std::string& server, int32_t silenceMs,
                     bool* delivered) {
    auto* buffer = static_cast<char*>(MemoryAllocate(kReceiveSize));
    if (buffer == nullptr) return StreamEnd::Lost;
    SentenceLines lines;
    Reading reading;
    reading.connection = connection;
    bool shownAny = false;
    // What the labels show; a position they already show costs the GUI thread nothing.
    std::string shownLatitude;
    std::string shownLongitude;
    PositionPace pace(kGapAfterPositionMs);
    ShowTitle("Navlume - connected to " + server + ", waiting for a position");

    using Clock = std::chrono::steady_clock;
    const auto MsSince = [](Clock::time_point then) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count();
    };
    // Silence counts from the last data, gaps and all.
    Clock::time_point lastData = Clock::now();
    bool chatterBefore = false;  // the previous receive carried more than positions
    StreamEnd end = StreamEnd::Stopped;
    while (Running()) {
        const Clock::time_point waitFrom = Clock::now();
        const auto silenceLeft =
            static_cast<int32_t>(std::max<int64_t>(0, silenceMs - MsSince(lastData)));
        const int64_t event = ConnectionWait(connection, TrackingWake.Fd(), silenceLeft);
        // A stop ends the run at once: nothing that arrived with it is shown any more.
        if (!Running()) break;
        if (event == NetworkEventWake) continue;
        if (event == NetworkEventNone) {
            end = StreamEnd::Silent;
            break;
        }
        const int64_t count =
            event == NetworkEventData ? ConnectionReceive(connection, buffer, kReceiveSize) : 0;
        if (count <= 0) {
            end = StreamEnd::Lost;
            break;
        }
        lastData = Clock::now();
        *delivered = true;
        reading.accepted.clear();
        reading.lines = 0;
        lines.Feed(buffer, static_cast<size_t>(count), TakeLine, &reading);
        const bool gotPosition = !reading.accepted.empty();
        if (gotPosition) {
            const Position& latest = reading.accepted.back();
            GadgetText changed[2];
            size_t changes = 0;
            if (latest.latitude != shownLatitude) {
                changed[changes++] = {LatitudeLabel, latest.latitude.c_str()};
                shownLatitude = latest.latitude;
            }
            if (latest.longitude != shownLongitude) {
                changed[changes++] = {LongitudeLabel, latest.longitude.c_str()};
                shownLongitude = latest.longitude;
            }
            SetGadgetTexts(std::span<const GadgetText>(changed, changes));
            pace.PositionsAt(lastData, reading.accepted.size());
            // All of them join the trail; the viewer shows the newest.
            ViewerPost(reading.accepted);
            if (!shownAny) ShowTitle("Navlume");
            shownAny = true;
        }
        const bool chatter = !gotPosition || reading.lines > reading.accepted.size();
        const bool soon = lastData - waitFrom < std::chrono::milliseconds(kChattyWithinMs);
        const bool holdGap = soon && (chatter || chatterBefore);
        chatterBefore = chatter;
        if (!holdGap) continue;
        // Only a stop ends the gap early.
        const int64_t gap =
            (gotPosition ? pace.GapAfterPosition() : kGapAfterOtherDataMs) - MsSince(lastData);
        if (gap > 0 && PauseUnlessStopped(static_cast<int32_t>(gap))) break;
    }
    MemoryFree(buffer);
    return end;
}

// "2" for 2000 ms, "0.5" for 500 ms: the pause as the title shows it.
std::string Seconds(int32_t milliseconds) {
    const double tenths = (milliseconds + 99) / 100;
    return TempText(FloatToTextAuto, tenths / 10.0);
}

}  // namespace

int32_t ReconnectPauseMs(int32_t attempt, double spread, const TrackingLimits& limits) {
    int32_t pause = limits.firstPauseMs;
    for (int32_t i = 0; i < attempt && pause < limits.longestPauseMs; ++i)
        pause *= 2;
    if (pause > limits.longestPauseMs) pause = limits.longestPauseMs;
    if (spread < 0) spread = 0;
    if (spread > kPauseSpread) spread = kPauseSpread;
    return pause + static_cast<int32_t>(pause * spread);
}

int64_t TrackingWorker(int64_t limitsAddress) {
    const TrackingLimits limits = limitsAddress != 0
                                      ? *reinterpret_cast<const TrackingLimits*>(limitsAddress)
                                      : TrackingLimits{};
    NetworkInit();
    // KML viewers follow through this link file; it is written once and then left to the user.
    EnsureNetworkLinkKml();
    // The start button has checked that the port lies in 1..65535; the fields stay locked
    // while tracking, so they are read once.
    const auto port =
        static_cast<int32_t>(TextToInteger(TempText(GetGadgetText, PortField).c_str()));
    const std::string address = TempText(GetGadgetText, ServerField);
    const std::string server = address + ":" + std::to_string(port);
    std::minstd_rand random(static_cast<unsigned>(std::random_device{}()));
    std::uniform_real_distribution<double> spread(0.0, kPauseSpread);

    int32_t attempt = 0;
    while (Running()) {
        ShowTitle("Navlume - connecting to " + server);
        const ConnectionNumber connection =
            ConnectionOpenWatched(address.c_str(), port, TrackingWake.Fd(), limits.connectMs);
        std::string trouble = "cannot connect to " + server;
        if (connection != 0) {
            bool delivered = false;
            const StreamEnd end = ReadStream(connection, server, limits.silenceMs, &delivered);
            ConnectionClose(connection);
            if (end == StreamEnd::Stopped) break;
            // A connection that worked starts the pauses afresh.
            if (delivered) attempt = 0;
            trouble = end == StreamEnd::Silent
                          ? "no data from " + server + " for " + Seconds(limits.silenceMs) + " s"
                          : "connection to " + server + " lost";
        }
        if (!Running()) break;
        const int32_t pause = ReconnectPauseMs(attempt, spread(random), limits);
        if (attempt < kAttemptOfLongestPause) ++attempt;
        ShowTitle("Navlume - " + trouble + ", retrying in " + Seconds(pause) + " s");
        if (PauseUnlessStopped(pause)) break;
    }
    ShowTitle("Navlume");
    return 0;
}
