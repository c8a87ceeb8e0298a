// The gadget tests' setting: the layer set up as the program does, with window 0 open as the
// window that receives gadgets, and helpers that read gadgets the way the program does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/temp_buffer.h"
#include "tests/support/ui_fixture.h"
#include "ui/gadget_kind_functions.h"

class GadgetTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Test", 0x44), 0);
        window = WindowHandle(0);
        TakeAll();
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

    // The gadget events queued so far, as (object, type).
    std::vector<std::pair<int64_t, int64_t>> GadgetEvents() {
        std::vector<std::pair<int64_t, int64_t>> events;
        for (const Taken& taken : TakeAll()) {
            EXPECT_EQ(taken.kind, GadgetEvent);
            events.emplace_back(taken.object, taken.type);
        }
        return events;
    }

    PlatformWindow* window = nullptr;
};
