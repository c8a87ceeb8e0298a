#include "ui/gadgets.h"

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "runtime/object_table.h"
#include "runtime/text_ops.h"
#include "ui/application.h"
#include "ui/window_table.h"

namespace {

constexpr int32_t kGadgetTableGrowth = 16;

ObjectTable* gadgetTable = nullptr;

// The functions object of a live gadget that is not being released, or null.
KyGadgetFunctions* LiveFunctions(int64_t gadget) {
    auto* record = static_cast<Ky_GadgetStructure*>(ObjectFromNumber(gadgetTable, gadget));
    if (record == nullptr || record->functions == nullptr) return nullptr;
    return record->functions->isReleasing() ? nullptr : record->functions;
}

// GUI thread, queued by a set from another thread or at the end of a hold: shows the text set
// last of each gadget that is still there and has not had a newer text from the program itself,
// then holds those texts. The snapshot holds these texts already; only a kind that makes
// something else of a text (a slider reads it as its value) is read back.
void ApplyPendingTexts() {
    std::vector<std::pair<int64_t, std::string>> texts;
    GadgetSnapshotTakeAllPending(&texts);
    if (texts.empty()) return;  // nothing came during the hold, which ends here
    for (const auto& [gadget, text] : texts) {
        KyGadgetFunctions* functions = LiveFunctions(gadget);
        if (functions == nullptr) continue;
        functions->SetGadgetText(TextToPlatformString(text.c_str()));
        if (functions->Gadget->type != kGadgetText) functions->refreshSnapshot();
    }
    if (!RunOnGuiThreadAfter(kHandedTextHoldMs, ApplyPendingTexts)) GadgetSnapshotEndHold();
}

// Another thread may not touch a widget: its texts wait for the GUI thread, and only one
// apply task is queued however many sets (of however many gadgets) come before it runs or
// while its texts are held. All texts of one call wait before the task is queued, so that one
// task shows them all.
void HandTextsToGuiThread(std::span<const GadgetText> texts) {
    bool needsApplyTask = false;
    for (const GadgetText& one : texts) {
        bool needed = false;
        GadgetSnapshotSetPending(one.gadget, one.text != nullptr ? one.text : "", &needed);
        needsApplyTask = needsApplyTask || needed;
    }
    if (needsApplyTask) PostToGuiThread(ApplyPendingTexts);
}

// The table's release routine: takes a gadget out of its window, which releases its record;
// -1 removes every gadget.
void RemoveGadgetNow(int64_t gadget) {
    if (gadgetTable == nullptr) return;
    if (gadget == -1) {
        ObjectReleaseAll(gadgetTable);
        return;
    }
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return;
    UiPlatform* platform = CurrentUiPlatform();
    if (platform == nullptr) {
        // No window system, so no view will report its end: release the record here.
        functions->viewDestroyed();
        return;
    }
    // Destroying the view makes it report its end, and that releases the record; the record
    // is released there and only there, so it can never be released twice.
    platform->removeView(functions->Gadget->container);
}

}  // namespace

ObjectTable* GadgetTable() {
    return gadgetTable;
}

void GadgetSystemInit() {
    if (gadgetTable != nullptr) GadgetLibraryEnd();
    gadgetTable =
        ObjectTableCreate(sizeof(Ky_GadgetStructure), kGadgetTableGrowth, RemoveGadgetNow);
}

void GadgetLibraryInit() {}

void GadgetLibraryEnd() {
    if (gadgetTable == nullptr) return;
    RemoveGadgetNow(-1);
    ObjectTableFree(gadgetTable);
    gadgetTable = nullptr;
    GadgetSnapshotDropAll();
}

Ky_GadgetStructure* GadgetRecord(int64_t gadget) {
    if (!IsGuiThread()) return nullptr;
    return static_cast<Ky_GadgetStructure*>(ObjectFromNumber(gadgetTable, gadget));
}

void SetGadgetTexts(std::span<const GadgetText> texts) {
    if (!IsGuiThread()) {
        HandTextsToGuiThread(texts);
        return;
    }
    for (const GadgetText& one : texts)
        SetGadgetText(one.gadget, one.text);
}

void SetGadgetText(int64_t gadget, const char* text) {
    if (!IsGuiThread()) {
        const GadgetText one{gadget, text};
        HandTextsToGuiThread(std::span<const GadgetText>(&one, 1));
        return;
    }
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return;
    // This text is newer than any still waiting from another thread.
    GadgetSnapshotClearPending(gadget);
    functions->SetGadgetText(TextToPlatformString(text));
    functions->refreshSnapshot();
}

char* GetGadgetText(int64_t gadget, int64_t start) {
    if (!IsGuiThread()) {
        const std::string text = GadgetSnapshotText(gadget);
        return TextFromMemory(text.c_str(), static_cast<int64_t>(text.size()), start);
    }
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return PlatformStringToTemp(nullptr, start);
    const PlatformString text = functions->GetGadgetText();
    return PlatformStringToTemp(&text, start);
}

void SetGadgetState(int64_t gadget, int64_t state) {
    if (!IsGuiThread()) return;
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return;
    functions->SetGadgetState(state);
    functions->refreshSnapshot();
}

int64_t GetGadgetState(int64_t gadget) {
    if (!IsGuiThread()) return GadgetSnapshotState(gadget);
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    return functions != nullptr ? functions->GetGadgetState() : 0;
}

void DisableGadget(int64_t gadget, int32_t state) {
    if (!IsGuiThread()) return;
    if (KyGadgetFunctions* functions = LiveFunctions(gadget)) functions->DisableGadget(state);
}

int32_t ActivateGadget(int64_t gadget) {
    if (!IsGuiThread()) return 1;
    if (KyGadgetFunctions* functions = LiveFunctions(gadget)) functions->ActivateGadget();
    return 1;
}

int32_t BindGadgetEvent(int64_t gadget, EventProcedure procedure, int64_t eventType) {
    if (!IsGuiThread()) return 0;
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return 0;
    // The window the gadget is in now; a gadget in no window is bound in any window.
    int64_t window = -1;
    if (UiPlatform* platform = CurrentUiPlatform()) {
        if (PlatformWindow* native = platform->viewWindow(functions->Gadget->view)) {
            window = WindowNumberOf(native);
        }
    }
    return BindEventCallback(GadgetEvent, procedure, window, gadget, eventType);
}

int32_t BindGadgetCallback(int64_t gadget, EventProcedure procedure) {
    return BindGadgetEvent(gadget, procedure, -1);
}

void RemoveGadget(int64_t gadget) {
    if (!IsGuiThread()) return;
    RemoveGadgetNow(gadget);
}

void SetGadgetAttribute(int64_t gadget, int32_t attribute, int64_t value) {
    if (!IsGuiThread()) return;
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    if (functions == nullptr) return;
    functions->SetGadgetAttribute(attribute, value);
    // A new range may move a slider's value.
    functions->refreshSnapshot();
}

int64_t GetGadgetAttribute(int64_t gadget, int32_t attribute) {
    if (!IsGuiThread()) return 0;
    KyGadgetFunctions* functions = LiveFunctions(gadget);
    return functions != nullptr ? functions->GetGadgetAttribute(attribute) : 0;
}

void ResizeGadget(int64_t gadget, int64_t x, int64_t y, int64_t width, int64_t height) {
    if (!IsGuiThread()) return;
    if (KyGadgetFunctions* functions = LiveFunctions(gadget)) {
        functions->ResizeGadget(x, y, width, height);
    }
}

void HideGadget(int64_t gadget, int32_t state) {
    if (!IsGuiThread()) return;
    if (KyGadgetFunctions* functions = LiveFunctions(gadget)) functions->HideGadget(state);
}
