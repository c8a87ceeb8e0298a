// Resident memory of the real program (NavlumeMain on offscreen Qt) before and after 100 000
// accepted sentences. Feeding them through the network at one per 10 ms cycle would take
// 1000 s, so a worker-like thread hands each sentence to HandleChunk directly (the worker's path
// after the receive: conversion, both labels through SetGadgetText, script composition, a
// no-op script run) while the GUI thread runs the program's event loop and shows the texts.
#include <malloc.h>

#include <QLabel>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <string>

#include "app/tracking_worker.h"
#include "bench/numbered_sentences.h"
#include "bench/program_harness.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"

namespace {

constexpr int64_t kWarmUpSentences = 1000;
constexpr int64_t kSentences = 100000;
// Positions repeat after this many sentences, staying below 90 degrees of latitude.
constexpr int64_t kDistinctPositions = 48000;

// One chunk as the worker takes it from its receive buffer, then the worker's handling.
void HandleSentence(int64_t number) {
    const std::string bytes = NumberedSentence(number % kDistinctPositions);
    StringVariable chunk;
    const int64_t start = TempPosition();
    TextFromMemory(bytes.data(), static_cast<int64_t>(bytes.size()), start);
    StringAssignFromTemp(chunk.slot(), start);
    HandleChunk(chunk.text());
}

// Waits until the GUI thread has run everything queued before (the last label texts).
void Drain(ProgramHarness& harness) {
    for (int round = 0; round < 3; ++round)
        harness.OnGui([] {});
}

struct Memory {
    int64_t residentKilobytes = 0;
    size_t heapBytes = 0;  // bytes handed out by malloc and not freed
};

Memory Now() {
    return {ResidentKilobytes(), mallinfo2().uordblks};
}

// GUI thread: counts the texts the latitude label actually showed.
class ShownCounter {
  public:
    ShownCounter(std::atomic<int64_t>& count, QPointer<QLabel> label)
        : Count(count), Label(label) {}
    void operator()() {
        if (Label.isNull()) return;
        const QString text = Label->text();
        if (text == Last) return;
        Last = text;
        Count.fetch_add(1);
    }

  private:
    std::atomic<int64_t>& Count;
    QPointer<QLabel> Label;
    QString Last;
};

void PrintMemory(const char* when, const Memory& memory) {
    std::printf("  %-38s VmRSS %7lld KiB   heap in use %9zu bytes\n", when,
                static_cast<long long>(memory.residentKilobytes), memory.heapBytes);
}

}  // namespace

int main() {
    Memory cold;
    Memory before;
    Memory after;
    std::string shown;
    std::atomic<int64_t> textsShown{0};
    ProgramHarness harness;
    SetScriptRunner(SkipScriptRun);
    const int status = harness.Run([&] {
        cold = Now();
        for (int64_t number = 0; number < kWarmUpSentences; ++number)
            HandleSentence(number);
        Drain(harness);
        before = Now();
        const auto label =
            harness.OnGui([] { return QPointer<QLabel>(ProgramHarness::LatitudeLabelWidget()); });
        harness.SetAfterEventProbe(ShownCounter(textsShown, label));
        for (int64_t number = 0; number < kSentences; ++number)
            HandleSentence(kWarmUpSentences + number);
        Drain(harness);
        harness.SetAfterEventProbe(nullptr);
        after = Now();
        shown = harness.OnGui([] {
            QLabel* label = ProgramHarness::LatitudeLabelWidget();
            return label != nullptr ? label->text().toStdString() : std::string();
        });
        return 0;
    });
    SetScriptRunner(nullptr);
    if (status != 0) return status;

    const int64_t last = kWarmUpSentences + kSentences - 1;
    const bool lastShown = SentenceNumberOf(shown, kLatitudeOrigin) == last % kDistinctPositions;
    std::printf(
        "memory: 100000 accepted sentences through HandleChunk on a worker-like thread (no "
        "socket; no-op script runner) while the GUI thread ran the program's event loop\n");
    PrintMemory("window up:", cold);
    PrintMemory("after 1000 warm-up sentences:", before);
    PrintMemory("after 100000 more sentences:", after);
    std::printf("  growth over the 100000 sentences: %lld KiB resident, %lld bytes of heap\n",
                static_cast<long long>(after.residentKilobytes - before.residentKilobytes),
                static_cast<long long>(after.heapBytes) - static_cast<long long>(before.heapBytes));
    std::printf(
        "  the latitude label showed %lld distinct texts (a text set before the GUI thread "
        "showed the one before replaces it) and ends on %s, %s\n",
        static_cast<long long>(textsShown.load()), shown.c_str(),
        lastShown ? "the last sentence's" : "NOT the last sentence's");
    std::printf("  aim: growth under 1 MiB\n");
    return 0;
}
