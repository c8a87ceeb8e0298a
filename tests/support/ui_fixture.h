// Starts the layers against the in-memory platform the way the program does,
// and takes it down again after each test, so tests never see each other's windows or events.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "app/layers.h"
#include "tests/support/fake_platform.h"
#include "ui/ui.h"

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
