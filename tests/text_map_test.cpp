#include "runtime/text_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class TextMapTest : public ::testing::Test {
  protected:
    void TearDown() override { MapDestroy(map_); }
    TextMap* map_ = nullptr;
};

TEST_F(TextMapTest, FindOrAddGivesExistingOrNewZeroedElements) {
    MapLibraryInit();
    ASSERT_NE(MapCreate(8, nullptr, &map_, 1024), nullptr);
    char key[] = "Start";
    auto* start = static_cast<int64_t*>(MapFindOrAdd(map_, key));
    ASSERT_NE(start, nullptr);
    *start = 42;
    std::strcpy(key, "Other");  // the map keeps a copy of the key
    EXPECT_EQ(MapFindOrAdd(map_, "Start"), start);
    EXPECT_EQ(MapFind(map_, "Other"), nullptr);
    for (const char* other : {"start", "Star", "Startx"}) {  // case-sensitive: other keys
        EXPECT_EQ(MapFind(map_, other), nullptr) << other;
        auto* element = static_cast<int64_t*>(MapFindOrAdd(map_, other));
        ASSERT_NE(element, nullptr);
        EXPECT_EQ(*element, 0);
    }
    EXPECT_EQ(MapCount(map_), 4);
    EXPECT_EQ(*start, 42);
    MapDestroy(map_);
    ASSERT_NE(MapCreate(8, nullptr, &map_, 64, kMapIgnoreCase), nullptr);
    void* element = MapFindOrAdd(map_, "ZoomBar");
    EXPECT_EQ(MapFind(map_, "zoombar"), element);
    EXPECT_EQ(MapFind(map_, "Zo\xD6mbar"), nullptr);  // only ASCII letters fold
    EXPECT_EQ(MapFindOrAdd(map_, "ZOOMBAR"), element);
}

TEST_F(TextMapTest, OneBucketHoldsALongChain) {
    // A bucket count below 1 is taken as 1, so every key collides.
    ASSERT_NE(MapCreate(sizeof(int64_t), nullptr, &map_, 0), nullptr);
    constexpr int kKeys = 200;
    for (int i = 0; i < kKeys; ++i) {
        auto* element = static_cast<int64_t*>(MapFindOrAdd(map_, std::to_string(i).c_str()));
        ASSERT_NE(element, nullptr);
        *element = i;
    }
    for (int i : {kKeys - 1, 100, 0})  // the chain's head, middle and tail
        EXPECT_TRUE(MapRemove(map_, std::to_string(i).c_str()));
    for (int i = 0; i < kKeys; ++i) {
        const auto* element = static_cast<int64_t*>(MapFind(map_, std::to_string(i).c_str()));
        const bool removed = i == kKeys - 1 || i == 100 || i == 0;
        EXPECT_EQ(element == nullptr ? -1 : *element, removed ? -1 : i);
    }
    EXPECT_EQ(*static_cast<int64_t*>(MapFindOrAdd(map_, "100")), 0);  // back new and zeroed
}

}  // namespace
