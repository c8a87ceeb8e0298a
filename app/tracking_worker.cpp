#include "app/tracking_worker.h"

#include <atomic>

#include "app/chunk_position.h"
#include "app/program_values.h"
#include "app/viewer_script.h"
#include "runtime/delay.h"
#include "runtime/memory_block.h"
#include "runtime/network.h"
#include "runtime/number_text.h"
#include "runtime/string_variable.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_ops.h"
#include "ui/gadgets.h"

namespace {

// One receive never asks for more; what is left waits for the next cycle.
constexpr int32_t kReceiveSize = 128;
constexpr int32_t kCycleMilliseconds = 10;

std::atomic<ScriptRunner> scriptRunner{RunAppleScript};

// The connect gives up as soon as tracking is stopped, even against a host that never answers.
bool TrackingStopped(void*) {
    return TrackingRunning.load() == 0;
}

// The text of a gadget, kept beyond the statement that read it.
void TakeGadgetText(int64_t gadget, StringVariable* text) {
    const int64_t start = TempPosition();
    GetGadgetText(gadget, start);
    StringAssignFromTemp(text->slot(), start);
}

// The chunk text of one receive: at most count bytes, ending early at a zero byte.
void TakeChunk(const char* buffer, int64_t count, StringVariable* chunk) {
    if (count <= 0) {
        StringAssign(chunk->slot(), "");
        return;
    }
    const int64_t start = TempPosition();
    TextFromMemory(buffer, count, start);
    StringAssignFromTemp(chunk->slot(), start);
}

}  // namespace

void SetScriptRunner(ScriptRunner runner) {
    scriptRunner.store(runner != nullptr ? runner : RunAppleScript);
}

void HandleChunk(const char* chunk) {
    StringVariable latitude;
    StringVariable longitude;
    if (!PositionFromChunk(chunk, &latitude, &longitude)) return;

    SetGadgetText(LatitudeLabel, latitude.text());
    SetGadgetText(LongitudeLabel, longitude.text());

    StringVariable script;
    const int64_t start = TempPosition();
    ComposeViewerScript(latitude.text(), longitude.text(), GetGadgetState(ZoomBar), LineBreak,
                        start);
    StringAssignFromTemp(script.slot(), start);
    // The result is of no interest; the call returns when the run is over.
    TempScope scope;
    scriptRunner.load()(script.text(), scope.start());
}

int64_t TrackingWorker(int64_t) {
    auto* buffer = static_cast<char*>(MemoryAllocate(kReceiveSize));
    if (buffer == nullptr) return 0;
    NetworkInit();

    StringVariable portText;
    StringVariable server;
    TakeGadgetText(PortField, &portText);
    TakeGadgetText(ServerField, &server);
    // The start button has checked that the port lies in 1..65535.
    const auto port = static_cast<int32_t>(TextToInteger(portText.text()));

    const ConnectionNumber connection =
        ConnectionOpenCancellable(server.text(), port, NetworkModeTcp, TrackingStopped, nullptr);
    if (connection == 0) {
        MemoryFree(buffer);
        return 0;
    }

    do {
        if (ConnectionPoll(connection) == NetworkEventData) {
            StringVariable chunk;
            TakeChunk(buffer, ConnectionReceive(connection, buffer, kReceiveSize), &chunk);
            HandleChunk(chunk.text());
        }
        DelayMilliseconds(kCycleMilliseconds);
    } while (TrackingRunning.load() != 0);

    ConnectionClose(connection);
    MemoryFree(buffer);
    return 0;
}
