// Starts the layers against the in-memory platform the way the program does, and takes them
// down again after each test, so tests never see each other's windows or events. GadgetTest
// adds window 0, open as the window that receives gadgets.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layers.h"
#include "runtime/temp_buffer.h"
#include "tests/support/fake_platform.h"
#include "ui/ui.h"

// A layer event as (kind, object, type).
struct Taken {
    int64_t kind, object, type;
    bool operator==(const Taken&) const = default;
};

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetUiPlatform(&platform);
        StartLayers();
    }
    void TearDown() override {
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
    }
    // Takes every queued event.
    static std::vector<Taken> TakeAll() {
        std::vector<Taken> taken;
        while (int32_t kind = NextEvent())
            taken.push_back({kind, EventGadget(), EventType()});
        return taken;
    }
    FakePlatform platform;
};

class GadgetTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_NE(OpenMainWindow(0, 0, 0, 260, 160, "Test", 0x44), 0);
        window = WindowHandle(0);
        TakeAll();
    }
    static std::string Text(int64_t gadget) {
        TempScope scope;
        return GetGadgetText(gadget, scope.start());
    }
    static PlatformView* View(int64_t gadget) {
        Ky_GadgetStructure* record = GadgetRecord(gadget);
        return record != nullptr ? record->view : nullptr;
    }
    PlatformWindow* window = nullptr;
};
