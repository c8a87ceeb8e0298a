// The layers on the in-memory platform, started and ended per test; GadgetTest adds window 0.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layers.h"
#include "runtime/temp_buffer.h"
#include "tests/support/fake_platform.h"
#include "ui/ui.h"

struct Taken {  // a layer event as (kind, object, type)
    int64_t kind, object, type;
    bool operator==(const Taken&) const = default;
};
using Events = std::vector<Taken>;

struct UiTest : ::testing::Test {
    void SetUp() override {
        SetUiPlatform(&platform);
        StartLayers();
    }
    void TearDown() override {
        EndLayers(LayerEnd::Everything);
        SetUiPlatform(nullptr);
    }
    // Opens a window and drops the events that opening it posted.
    PlatformWindow* Open(int64_t number, int32_t flags, int32_t x = 100) {
        OpenMainWindow(number, x, 50, 260, 160, "Navlume", flags);
        TakeAll();
        return WindowHandle(number);
    }
    int64_t Drain() {  // handles every pending platform event; how many there were
        const int64_t before = platform.handledEvents;
        while (platform.handleOneEvent(0)) {
        }
        return platform.handledEvents - before;
    }
    static Events TakeAll() {  // every queued event
        Events taken;
        while (int32_t kind = NextEvent())
            taken.push_back({kind, EventGadget(), EventType()});
        return taken;
    }
    FakePlatform platform;
};

struct GadgetTest : UiTest {
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_NE(window = Open(0, 0x44, 0), nullptr);
    }
    static std::string Text(int64_t gadget) {
        TempScope scope;
        return GetGadgetText(gadget, scope.Start());
    }
    static PlatformView* View(int64_t gadget) { return GadgetRecord(gadget)->view; }
    PlatformWindow* window = nullptr;
};
