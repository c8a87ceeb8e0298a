// The real program (NavlumeMain on offscreen Qt, no-op script runner) under floods from a loopback
// server in this process, 10 s each:
//   - 10 MB/s of random bytes without line ends;
//   - 10 MB/s of random lines (a quarter of them start like an RMC sentence);
//   - 10,000 valid sentences a second, each at a position of its own.
// In both garbage floods a numbered sentence rides along every 100 ms (after a line end), so
// that the display has something to follow. For each flood: the program's processor time (the
// process's clock less the benchmark's own threads), resident memory 1 s in and at the end, how
// far the label is behind the last sentence sent at the end (in sentences and in seconds of the
// stream), and how long pressing Stop takes while the flood goes on: from the click on the GUI
// thread until the worker has ended. The sender throttles itself (it sleeps in steps of about
// 1 ms); the program, the sender and the GUI share the machine's processors.
#include <QLabel>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/viewer_feed.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "tests/support/loopback_server.h"

namespace {

constexpr int kSpanSeconds = 10;
constexpr double kGarbageBytesPerSecond = 10e6;
constexpr size_t kGarbageChunk = 10000;
constexpr size_t kGarbagePool = 1 << 20;
// One numbered sentence after every this many garbage chunks: 10 a second.
constexpr int64_t kChunksPerSentence = 100;
constexpr double kValidSentencesPerSecond = 10000;
constexpr size_t kLongestRandomLine = 160;
// Each flood numbers its sentences from its own base, so a label text left by the previous
// flood is never taken for one of this flood's.
constexpr int64_t kSentenceBaseStep = 1000000;

std::vector<char> RandomBytesWithoutLineEnds(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> pool(kGarbagePool + kGarbageChunk);
    for (char& c : pool) {
        do {
            c = static_cast<char>(byte(random));
        } while (c == '\n');
    }
    return pool;
}

// Lines of random bytes (no zero byte, which would end their judgement early) of 0 to 160
// bytes with CR LF; a quarter start with "$GPRMC," so that the line judge looks further in.
std::vector<char> RandomLines(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(1, 255);
    std::uniform_int_distribution<size_t> length(0, kLongestRandomLine);
    std::uniform_int_distribution<int> quarter(0, 3);
    std::vector<char> pool;
    pool.reserve(kGarbagePool + kGarbageChunk + kLongestRandomLine + 2);
    while (pool.size() < kGarbagePool + kGarbageChunk) {
        size_t remaining = length(random);
        if (quarter(random) == 0) {
            for (const char c : std::string("$GPRMC,"))
                pool.push_back(c);
        }
        for (; remaining > 0; --remaining) {
            char c = 0;
            do {
                c = static_cast<char>(byte(random));
            } while (c == '\n');
            pool.push_back(c);
        }
        pool.push_back('\r');
        pool.push_back('\n');
    }
    return pool;
}

// One flood: what the sender writes and how its items map to sentence numbers.
struct Flood {
    const char* title;
    double itemsPerSecond;
    int64_t itemsPerSentence;
    std::shared_ptr<const std::vector<char>> garbage;  // none: every item is a sentence
    int64_t sentenceBase = 0;

    double SentencesPerSecond() const {
        return itemsPerSecond / static_cast<double>(itemsPerSentence);
    }
    // The number of the last sentence among the first items items; base - 1 when none.
    int64_t LastSentenceAmong(int64_t items) const {
        return items <= 0 ? sentenceBase - 1 : sentenceBase + (items - 1) / itemsPerSentence;
    }
    PacedSender::Fill Fill() const {
        if (!garbage) {
            return [base = sentenceBase](int64_t item, std::string& out) {
                AppendNumberedSentence(base + item, out);
            };
        }
        return [pool = garbage, base = sentenceBase, every = itemsPerSentence](int64_t item,
                                                                               std::string& out) {
            // The chunks start at scattered places of the pool.
            const size_t offset = static_cast<size_t>(item * 7919) % (pool->size() - kGarbageChunk);
            out.append(pool->data() + offset, kGarbageChunk);
            if (item % every == 0) {
                out += "\r\n";
                AppendNumberedSentence(base + item / every, out);
            }
        };
    }
};

struct Result {
    bool ok = false;
    double sentMegabytes = 0;
    int64_t sentSentences = 0;
    UseSpan use;
    std::vector<int64_t> residentEachSecond;  // KiB, after 1, 2, ... s
    int64_t lastSent = -1;
    int64_t shown = -1;  // -1: no sentence of this flood shown
    int64_t otherTexts = 0;
    double stopMs = -1;
};

// What the latitude label has shown during one flood.
struct Display {
    std::atomic<int64_t> sentence{-1};   // the latest of this flood's sentences shown
    std::atomic<int64_t> otherTexts{0};  // changes to a text that is none of them
};

// GUI thread, after every Qt event: notes each new text of the latitude label. The text it
// finds at its first call is the previous flood's and is not counted.
class DisplayWatcher {
  public:
    DisplayWatcher(QPointer<QLabel> label, int64_t base, std::shared_ptr<Display> display)
        : Label(std::move(label)), Base(base), Shown(std::move(display)) {}

    void operator()() {
        if (Label.isNull()) return;
        const QString text = Label->text();
        if (!Started) {
            Started = true;
            Last = text;
        }
        if (text == Last) return;
        Last = text;
        const int64_t number = SentenceNumberOf(text.toStdString(), kLatitudeOrigin);
        if (number >= Base && number < Base + kSentenceBaseStep) {
            Shown->sentence.store(number);
        } else {
            Shown->otherTexts.fetch_add(1);
        }
    }

  private:
    QPointer<QLabel> Label;
    int64_t Base;
    std::shared_ptr<Display> Shown;
    bool Started = false;
    QString Last;
};

Result RunFlood(ProgramHarness& harness, const Flood& flood) {
    Result result;
    LoopbackServer server;
    if (!server.Ok()) return result;
    auto display = std::make_shared<Display>();
    const QPointer<QLabel> label =
        harness.OnGui([] { return QPointer<QLabel>(ProgramHarness::LatitudeLabelWidget()); });
    harness.SetAfterEventProbe(DisplayWatcher(label, flood.sentenceBase, display));
    harness.SetPort(server.port());
    if (!harness.PressStartButton()) {
        std::fprintf(stderr, "tracking did not start\n");
        return result;
    }
    const int client = server.Accept();
    if (client < 0) {
        std::fprintf(stderr, "the program did not connect\n");
        return result;
    }

    const UseSnapshot before = TakeUse();
    PacedSender sender(client, flood.itemsPerSecond, flood.Fill());
    for (int second = 1; second < kSpanSeconds; ++second) {
        std::this_thread::sleep_until(before.at + std::chrono::seconds(second));
        result.residentEachSecond.push_back(ResidentKilobytes());
    }
    std::this_thread::sleep_until(before.at + std::chrono::seconds(kSpanSeconds));
    const int64_t items = sender.ItemsSent();
    result.shown = display->sentence.load();
    const UseSnapshot after = TakeUse();
    result.residentEachSecond.push_back(ResidentKilobytes());
    result.otherTexts = display->otherTexts.load();
    result.use = UseBetween(before, after);
    result.lastSent = flood.LastSentenceAmong(items);
    result.sentSentences = result.lastSent - flood.sentenceBase + 1;
    result.sentMegabytes = static_cast<double>(sender.BytesSent()) / 1e6;
    const bool streamFailed = sender.Failed();

    // Stop while the flood goes on.
    result.stopMs = harness.PressStopButtonTimed();
    sender.Stop();
    harness.SetAfterEventProbe(nullptr);
    if (streamFailed) std::fprintf(stderr, "the connection failed during the flood\n");
    result.ok = !streamFailed;
    return result;
}

void PrintResult(const Flood& flood, const Result& result) {
    const UseSpan& use = result.use;
    std::printf("  %s:\n", flood.title);
    std::printf(
        "    sent:             %.1f MB in %.1f s (%.2f MB/s), %lld sentences (%.0f a "
        "second)\n",
        result.sentMegabytes, use.seconds, result.sentMegabytes / use.seconds,
        static_cast<long long>(result.sentSentences),
        static_cast<double>(result.sentSentences) / use.seconds);
    std::printf("    CPU:              %.1f ms over %.1f s (%.1f %% of one core), %lld wake-ups\n",
                use.programCpuSeconds() * 1e3, use.seconds,
                PercentOfCore(use.programCpuSeconds(), use.seconds),
                static_cast<long long>(use.programWakeUps()));
    std::printf("        threads: %s\n", use.DescribeProgramThreads().c_str());
    const int64_t firstSecond = result.residentEachSecond.front();
    const int64_t end = result.residentEachSecond.back();
    std::printf("    resident memory:  %lld KiB after 1 s, %lld KiB at the end (%+lld KiB)\n",
                static_cast<long long>(firstSecond), static_cast<long long>(end),
                static_cast<long long>(end - firstSecond));
    std::string seconds;
    for (const int64_t kilobytes : result.residentEachSecond) {
        seconds += ' ';
        seconds += std::to_string(kilobytes);
    }
    std::printf("        each second (KiB):%s\n", seconds.c_str());
    if (result.shown < 0) {
        std::printf("    display behind:   nothing of this flood shown\n");
    } else {
        const int64_t behind = result.lastSent - result.shown;
        std::printf(
            "    display behind:   %.3f s at the end (%lld sentences: shows #%lld, #%lld "
            "sent)\n",
            static_cast<double>(behind) / flood.SentencesPerSecond(),
            static_cast<long long>(behind),
            static_cast<long long>(result.shown - flood.sentenceBase),
            static_cast<long long>(result.lastSent - flood.sentenceBase));
    }
    if (result.otherTexts > 0) {
        std::printf(
            "        the label also changed %lld times to a position of no numbered "
            "sentence (a random line the line judge took)\n",
            static_cast<long long>(result.otherTexts));
    }
    if (result.stopMs < 0) {
        std::printf("    Stop:             the worker had not ended 5 s after the click\n");
    } else {
        std::printf("    Stop:             %.3f ms from the click to the worker's end\n",
                    result.stopMs);
    }
}

}  // namespace

int main() {
    std::mt19937 random(20240514);
    std::vector<Flood> floods = {
        {"random bytes without line ends, 10 MB/s (a sentence every 100 ms)",
         kGarbageBytesPerSecond / kGarbageChunk, kChunksPerSentence,
         std::make_shared<const std::vector<char>>(RandomBytesWithoutLineEnds(random))},
        {"random lines, 10 MB/s (a sentence every 100 ms)", kGarbageBytesPerSecond / kGarbageChunk,
         kChunksPerSentence, std::make_shared<const std::vector<char>>(RandomLines(random))},
        {"valid sentences, 10000 a second, each at a position of its own", kValidSentencesPerSecond,
         1, nullptr},
    };
    for (size_t i = 0; i < floods.size(); ++i)
        floods[i].sentenceBase = static_cast<int64_t>(i) * kSentenceBaseStep;

    std::vector<Result> results(floods.size());
    ProgramHarness harness;
    SetScriptRunner(SkipScriptRun);
    const int status = harness.Run([&] {
        for (size_t i = 0; i < floods.size(); ++i) {
            results[i] = RunFlood(harness, floods[i]);
            if (!results[i].ok) return 1;
        }
        return 0;
    });
    SetScriptRunner(nullptr);
    if (status != 0) return status;

    std::printf(
        "flood: real program (NavlumeMain on offscreen Qt, no-op script runner) fed by a paced "
        "sender in this process for %d s each; the benchmark's own threads are taken off\n",
        kSpanSeconds);
    for (size_t i = 0; i < floods.size(); ++i)
        PrintResult(floods[i], results[i]);
    std::printf(
        "  aim: memory bounded (no growth after the first second), display less than 1 s "
        "behind, Stop prompt\n");
    return 0;
}
