// Sets the interface layer up against the in-memory platform in the order the program uses,
// and takes it down again after each test, so tests never see each other's windows or events.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "runtime/list.h"
#include "runtime/temp_buffer.h"
#include "runtime/text_map.h"
#include "tests/support/fake_platform.h"
#include "ui/ui.h"

class UiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetUiPlatform(&platform);
        StringSystemInit();
        ListLibraryInit();
        GadgetSystemInit();
        WindowLibraryInit();
        MenuLibraryInit();
        ApplicationInit();
        MapLibraryInit();
        EventQueueInit();
    }

    void TearDown() override {
        WindowLibraryEnd();
        GadgetLibraryEnd();
        MenuLibraryEnd();
        EventQueueEnd();
        ApplicationEnd();
        SetUiPlatform(nullptr);
    }

    // Takes every queued event as (kind, object, window, type).
    struct Taken {
        int64_t kind, object, type;
        bool operator==(const Taken&) const = default;
    };
    std::vector<Taken> TakeAll() {
        std::vector<Taken> taken;
        while (int32_t kind = NextEvent())
            taken.push_back({kind, EventGadget(), EventType()});
        return taken;
    }

    FakePlatform platform;
};
