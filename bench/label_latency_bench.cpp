// Latency from the server's write of a $GPRMC sentence to the Qt labels showing its position,
// through the real program: NavlumeMain's event loop, the Start button, the worker woken in
// poll() by the bytes, its receive and line judge, SetGadgetText handing the texts to the GUI
// thread, and QLabel::setText. A loopback server in this process writes one sentence at a time
// and waits until both labels show it, then pauses 5 to 15 ms at random beyond the time the
// layer holds texts handed over from another thread, so each sentence meets a worker asleep in
// the kernel and is shown at once. (Faster positions are shown when the hold ends.) The label texts
// are read by a probe after every Qt event the GUI thread delivers. Positions go to the viewer
// thread, whose script runs go to a no-op runner.
#include <QLabel>
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

#include "app/viewer_feed.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "tests/support/loopback_server.h"
#include "ui/gadgets.h"

namespace {

constexpr int64_t kWarmUpSentences = 5;
constexpr int64_t kMeasuredSentences = 100;
constexpr int64_t kSentences = kWarmUpSentences + kMeasuredSentences;
constexpr int kShortestPauseMicroseconds = 5000;
constexpr int kLongestPauseMicroseconds = 15000;
constexpr auto kShowTimeout = std::chrono::seconds(1);

int64_t NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When each sentence was written and when each label first showed it (0: not yet).
struct Timeline {
    Timeline()
        : writtenAt(kSentences, 0), latitudeShownAt(kSentences), longitudeShownAt(kSentences) {
        for (size_t number = 0; number < kSentences; ++number) {
            latitudeShownAt[number].store(0);
            longitudeShownAt[number].store(0);
        }
    }
    std::vector<int64_t> writtenAt;
    std::vector<std::atomic<int64_t>> latitudeShownAt;
    std::vector<std::atomic<int64_t>> longitudeShownAt;
};

// GUI thread: notes the moment a label's text changes to a sentence's position.
class LabelWatcher {
  public:
    LabelWatcher(Timeline& timeline, QPointer<QLabel> latitude, QPointer<QLabel> longitude)
        : Times(timeline), Latitude(latitude), Longitude(longitude) {}

    void operator()() {
        Check(Latitude, &LastLatitude, kLatitudeOrigin, Times.latitudeShownAt);
        Check(Longitude, &LastLongitude, kLongitudeOrigin, Times.longitudeShownAt);
    }

  private:
    static void Check(const QPointer<QLabel>& label, QString* last, double origin,
                      std::vector<std::atomic<int64_t>>& shownAt) {
        if (label.isNull()) return;
        const QString text = label->text();
        if (text == *last) return;
        const int64_t now = NowNanoseconds();
        *last = text;
        const int64_t number = SentenceNumberOf(text.toStdString(), origin);
        if (number < 0 || number >= kSentences) return;
        int64_t notYet = 0;
        shownAt[static_cast<size_t>(number)].compare_exchange_strong(notYet, now);
    }

    Timeline& Times;
    QPointer<QLabel> Latitude;
    QPointer<QLabel> Longitude;
    QString LastLatitude;
    QString LastLongitude;
};

bool WaitUntilShown(const Timeline& timeline, size_t number) {
    const auto deadline = std::chrono::steady_clock::now() + kShowTimeout;
    while (timeline.latitudeShownAt[number].load() == 0 ||
           timeline.longitudeShownAt[number].load() == 0) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

int Measure(ProgramHarness& harness, Timeline& timeline, int64_t* lost) {
    LoopbackServer server;
    if (!server.Ok()) {
        std::fprintf(stderr, "no loopback server\n");
        return 1;
    }
    const auto labels = harness.OnGui([] {
        return std::make_pair(QPointer<QLabel>(ProgramHarness::LatitudeLabelWidget()),
                              QPointer<QLabel>(ProgramHarness::LongitudeLabelWidget()));
    });
    harness.SetAfterEventProbe(LabelWatcher(timeline, labels.first, labels.second));
    harness.SetPort(server.port());
    if (!harness.PressStartButton()) {
        std::fprintf(stderr, "tracking did not start\n");
        return 1;
    }
    const int client = server.Accept();
    if (client < 0) {
        std::fprintf(stderr, "the program did not connect\n");
        return 1;
    }

    std::mt19937 random(20240514);
    std::uniform_int_distribution<int> pause(kShortestPauseMicroseconds, kLongestPauseMicroseconds);
    for (int64_t number = 0; number < kSentences; ++number) {
        const std::string sentence = NumberedSentence(number);
        const auto index = static_cast<size_t>(number);
        timeline.writtenAt[index] = NowNanoseconds();
        if (!SendAll(client, sentence)) {
            std::fprintf(stderr, "the connection failed at sentence %lld\n",
                         static_cast<long long>(number));
            return 1;
        }
        if (!WaitUntilShown(timeline, index)) ++*lost;
        std::this_thread::sleep_for(std::chrono::milliseconds(kHandedTextHoldMs) +
                                    std::chrono::microseconds(pause(random)));
    }
    harness.SetAfterEventProbe(nullptr);
    harness.PressStartButton();  // Stop
    return 0;
}

struct Figures {
    double median = 0;
    double p99 = 0;
    double minimum = 0;
    double maximum = 0;
    size_t count = 0;
};

Figures Summarise(const Timeline& timeline, const std::vector<std::atomic<int64_t>>& shownAt) {
    std::vector<double> milliseconds;
    for (auto number = static_cast<size_t>(kWarmUpSentences); number < kSentences; ++number) {
        const int64_t shown = shownAt[number].load();
        if (shown != 0) {
            milliseconds.push_back(static_cast<double>(shown - timeline.writtenAt[number]) / 1e6);
        }
    }
    Figures figures;
    figures.count = milliseconds.size();
    if (milliseconds.empty()) return figures;
    std::sort(milliseconds.begin(), milliseconds.end());
    const size_t n = milliseconds.size();
    figures.median =
        n % 2 == 1 ? milliseconds[n / 2] : (milliseconds[n / 2 - 1] + milliseconds[n / 2]) / 2;
    figures.p99 = milliseconds[(n * 99 + 99) / 100 - 1];
    figures.minimum = milliseconds.front();
    figures.maximum = milliseconds.back();
    return figures;
}

void PrintFigures(const char* label, const Figures& figures) {
    std::printf("  %-16s median %.3f ms, p99 %.3f ms (min %.3f ms, max %.3f ms, %zu sentences)\n",
                label, figures.median, figures.p99, figures.minimum, figures.maximum,
                figures.count);
}

}  // namespace

int main() {
    Timeline timeline;
    int64_t lost = 0;
    ProgramHarness harness;
    SetScriptRunner(SkipScriptRun);
    const int status = harness.Run([&] { return Measure(harness, timeline, &lost); });
    SetScriptRunner(nullptr);
    if (status != 0) return status;

    std::printf(
        "label latency: server write -> Qt label text changed (real program on offscreen Qt: "
        "worker woken in poll(), receive, line judge, SetGadgetText handed to the GUI thread, "
        "QLabel::setText; no-op script runner)\n");
    std::printf(
        "  %lld sentences measured after %lld warm-up, one at a time, a pause of the %d ms text "
        "hold and 5-15 ms at random between them, %lld not shown within 1 s\n",
        static_cast<long long>(kMeasuredSentences), static_cast<long long>(kWarmUpSentences),
        static_cast<int>(kHandedTextHoldMs), static_cast<long long>(lost));
    PrintFigures("latitude label:", Summarise(timeline, timeline.latitudeShownAt));
    PrintFigures("longitude label:", Summarise(timeline, timeline.longitudeShownAt));
    std::printf("  aim: median under 1 ms\n");
    return 0;
}
