#include "runtime/text_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/memory_block.h"

namespace {

TEST(MapHashTest, SdbmWithSignedBytes) {
    struct Case {
        const char* key;
        uint32_t exact;
        uint32_t ignoringCase;
    };
    // Worked out by hand and with a separate script. "\xe9" is -23 as a signed byte: an unsigned
    // reading would give 233, and "caf\xe9" would give 776778689.
    const Case cases[] = {
        {"", 0, 0},
        {"a", 97, 97},
        {"ab", 6363201, 6363201},
        {"Gadget", 1118165164, 137494668},
        {"OnClick", 975553897, 2098165161},
        {"\xe9", 4294967273u, 4294967273u},
        {"caf\xe9", 776778433, 776778433},
        {"\xff\x80", 4294901569u, 4294901569u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(MapHashKey(c.key, false), c.exact);
        EXPECT_EQ(MapHashKey(c.key, true), c.ignoringCase);
    }
    EXPECT_EQ(MapHashKey(nullptr, false), 0u);
    EXPECT_EQ(MapHashKey("GADGET", true), MapHashKey("gadget", false));
    // Only ASCII letters fold: Latin-1 capitals stay as they are.
    EXPECT_NE(MapHashKey("\xc9", true), MapHashKey("\xe9", true));
}

// Frees the map however a test ends.
class TextMapTest : public ::testing::Test {
  protected:
    void TearDown() override {
        MapDestroy(map_);
        MemoryInjectFailures(0, 0);
    }
    TextMap* map_ = nullptr;
};

TEST_F(TextMapTest, FindOrAddGivesExistingOrNewZeroedElements) {
    MapLibraryInit();
    ASSERT_NE(MapCreate(8, nullptr, &map_, 1024), nullptr);
    EXPECT_EQ(MapFind(map_, "Start"), nullptr);

    auto* start = static_cast<int64_t*>(MapFindOrAdd(map_, "Start"));
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(*start, 0);
    *start = 42;
    EXPECT_EQ(MapFindOrAdd(map_, "Start"), start);
    EXPECT_EQ(MapFind(map_, "Start"), start);
    EXPECT_EQ(MapCount(map_), 1);

    // Case-sensitive: these are other keys.
    for (const char* key : {"start", "START", "Star", "Startx"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(MapFind(map_, key), nullptr);
        auto* other = static_cast<int64_t*>(MapFindOrAdd(map_, key));
        ASSERT_NE(other, nullptr);
        EXPECT_NE(other, start);
        EXPECT_EQ(*other, 0);
    }
    EXPECT_EQ(MapCount(map_), 5);
    EXPECT_EQ(*start, 42);
}

TEST_F(TextMapTest, KeysAreCopied) {
    ASSERT_NE(MapCreate(8, nullptr, &map_, 16), nullptr);
    char key[] = "PortField";
    ASSERT_NE(MapFindOrAdd(map_, key), nullptr);
    std::strcpy(key, "Elsewhere");
    EXPECT_NE(MapFind(map_, "PortField"), nullptr);
    EXPECT_EQ(MapFind(map_, "Elsewhere"), nullptr);
}

TEST_F(TextMapTest, NullKeyIsTheEmptyKey) {
    ASSERT_NE(MapCreate(8, nullptr, &map_, 16), nullptr);
    void* empty = MapFindOrAdd(map_, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(MapFind(map_, ""), empty);
    EXPECT_TRUE(MapRemove(map_, ""));
    EXPECT_EQ(MapFind(map_, nullptr), nullptr);
}

TEST_F(TextMapTest, IgnoreCaseFoldsAsciiLetters) {
    ASSERT_NE(MapCreate(8, nullptr, &map_, 64, kMapIgnoreCase), nullptr);
    void* element = MapFindOrAdd(map_, "ZoomBar");
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(MapFind(map_, "zoombar"), element);
    EXPECT_EQ(MapFindOrAdd(map_, "ZOOMBAR"), element);
    EXPECT_EQ(MapFind(map_, "zoombar2"), nullptr);
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
    EXPECT_FALSE(MapRemove(map_, "100"));
    EXPECT_EQ(MapCount(map_), kKeys - 3);
    for (int i = 0; i < kKeys; ++i) {
        const auto* element = static_cast<int64_t*>(MapFind(map_, std::to_string(i).c_str()));
        if (i == kKeys - 1 || i == 100 || i == 0) {
            EXPECT_EQ(element, nullptr) << i;
        } else {
            ASSERT_NE(element, nullptr) << i;
            EXPECT_EQ(*element, i);
        }
    }
    // A removed key comes back as a new, zeroed element.
    auto* back = static_cast<int64_t*>(MapFindOrAdd(map_, "100"));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(*back, 0);
}

TEST_F(TextMapTest, ShortMemoryAddsNothing) {
    ASSERT_NE(MapCreate(8, nullptr, &map_, 8), nullptr);
    MemoryInjectFailures(0, 100);
    EXPECT_EQ(MapFindOrAdd(map_, "Key"), nullptr);  // no node
    MemoryInjectFailures(1, 100);
    EXPECT_EQ(MapFindOrAdd(map_, "Key"), nullptr);  // a node but no key copy
    MemoryInjectFailures(0, 0);
    EXPECT_EQ(MapCount(map_), 0);
    EXPECT_EQ(MapFind(map_, "Key"), nullptr);
    EXPECT_NE(MapFindOrAdd(map_, "Key"), nullptr);

    TextMap* kept = map_;
    MemoryInjectFailures(0, 100);
    EXPECT_EQ(MapCreate(8, nullptr, &map_, 8), nullptr);
    EXPECT_EQ(map_, kept);  // the place is left alone
}

}  // namespace
