#include "runtime/text_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(MapHashTest, SdbmWithSignedBytes) {
    // Worked out by hand and with a separate script. "\xe9" is -23 as a signed byte: an unsigned
    // reading would give 233, and "caf\xe9" would give 776778689.
    const struct {
        const char* key;
        uint32_t exact, ignoringCase;
    } cases[] = {{"", 0, 0},
                 {"ab", 6363201, 6363201},
                 {"Gadget", 1118165164, 137494668},
                 {"OnClick", 975553897, 2098165161},
                 {"caf\xe9", 776778433, 776778433},
                 {"\xff\x80", 4294901569u, 4294901569u}};
    for (const auto& c : cases) {
        EXPECT_EQ(MapHashKey(c.key, false), c.exact) << c.key;
        EXPECT_EQ(MapHashKey(c.key, true), c.ignoringCase) << c.key;
    }
    // Only ASCII letters fold: Latin-1 capitals stay as they are.
    EXPECT_NE(MapHashKey("\xc9", true), MapHashKey("\xe9", true));
}

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
    EXPECT_EQ(*start, 0);
    *start = 42;
    std::strcpy(key, "Other");  // the map keeps a copy of the key
    EXPECT_EQ(MapFindOrAdd(map_, "Start"), start);
    EXPECT_EQ(MapFind(map_, "Other"), nullptr);

    // Case-sensitive: these are other keys.
    for (const char* other : {"start", "START", "Star", "Startx"}) {
        EXPECT_EQ(MapFind(map_, other), nullptr) << other;
        auto* element = static_cast<int64_t*>(MapFindOrAdd(map_, other));
        ASSERT_NE(element, nullptr);
        EXPECT_NE(element, start);
        EXPECT_EQ(*element, 0);
    }
    EXPECT_EQ(MapCount(map_), 5);
    EXPECT_EQ(*start, 42);
}

TEST_F(TextMapTest, IgnoreCaseFoldsAsciiLetters) {
    ASSERT_NE(MapCreate(8, nullptr, &map_, 64, kMapIgnoreCase), nullptr);
    void* element = MapFindOrAdd(map_, "ZoomBar");
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(MapFind(map_, "zoombar"), element);
    EXPECT_EQ(MapFindOrAdd(map_, "ZOOMBAR"), element);
    EXPECT_EQ(MapCount(map_), 1);
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
    // Removing from the chain's head, middle and tail.
    for (int i : {kKeys - 1, 100, 0})
        EXPECT_TRUE(MapRemove(map_, std::to_string(i).c_str()));
    EXPECT_EQ(MapCount(map_), kKeys - 3);
    for (int i = 0; i < kKeys; ++i) {
        const auto* element = static_cast<int64_t*>(MapFind(map_, std::to_string(i).c_str()));
        const bool removed = i == kKeys - 1 || i == 100 || i == 0;
        EXPECT_EQ(element == nullptr ? -1 : *element, removed ? -1 : i);
    }
    auto* back = static_cast<int64_t*>(MapFindOrAdd(map_, "100"));  // back new and zeroed
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, 0);
}

}  // namespace
