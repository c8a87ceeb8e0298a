// The gadget tests' setting: the layer set up as the program does, with window 0 open as the
// window that receives gadgets, and helpers that read gadgets the way the program does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/temp_buffer.h"
#include "tests/support/ui_fixture.h"
#include "ui/gadget_kinds.h"

// Gadget events as (object, type).
using Events = std::vector<std::pair<int64_t, int64_t>>;

// What bound procedures saw: (gadget, type, state of the gadget at that moment).
struct Seen {
    int64_t gadget, type, state;
    bool operator==(const Seen&) const = default;
};
inline std::vector<Seen> seen;

inline int64_t RecordEvent() {
    seen.push_back({EventGadget(), EventType(), GetGadgetState(EventGadget())});
    return 0;
}

class GadgetTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Test", 0x44), 0);
        window = WindowHandle(0);
        TakeAll();
        seen.clear();
    }

    void TearDown() override {
        CloseWindowByNumber(-1);
        UiTest::TearDown();
    }

    static std::string Text(int64_t gadget) {
        TempScope scope;
        return GetGadgetText(gadget, scope.start());
    }

    static PlatformView* View(int64_t gadget) {
        Ky_GadgetStructure* record = GadgetRecord(gadget);
        return record != nullptr ? record->view : nullptr;
    }

    // Takes the queued events, all of which must be gadget events.
    Events GadgetEvents() {
        Events events;
        for (const Taken& taken : TakeAll()) {
            EXPECT_EQ(taken.kind, GadgetEvent);
            events.emplace_back(taken.object, taken.type);
        }
        return events;
    }

    PlatformWindow* window = nullptr;
};
