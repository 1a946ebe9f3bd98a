// PointerArray growth and removal; StringKeyMap matching, replacement and iteration order.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "PointerArray.h"
#include "StringKeyMap.h"
#include "SystemApi.h"

namespace {

void* P(uintptr_t n) { return reinterpret_cast<void*>(n); }

std::vector<std::pair<std::string, void*>> Iterate(const StringKeyMap& map)
{
    std::vector<std::pair<std::string, void*>> out;
    StringKeyMap::Position pos = map.GetStartPosition();
    while (pos) {
        CString key;
        void* value = nullptr;
        map.GetNextAssoc(pos, key, value);
        out.emplace_back(key.GetString(), value);
        if (out.size() > 100000)
            break;
    }
    return out;
}

}  // namespace

// --- PointerArray ------------------------------------------------------------------------

TEST(PointerArrayGrowth, AppendsFollowTheStepRule)
{
    // Exact first allocation, then steps of size/8 clamped to 4..1024.
    const int expected[] = {1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64, 72, 81, 91, 102};
    PointerArray a;
    EXPECT_EQ(0, a.GetCapacity());
    std::vector<int> seen;
    for (uintptr_t i = 0; i < 100; ++i) {
        EXPECT_EQ(static_cast<int>(i), a.Add(P(i + 1)));
        if (seen.empty() || seen.back() != a.GetCapacity())
            seen.push_back(a.GetCapacity());
    }
    EXPECT_EQ(std::vector<int>(std::begin(expected), std::end(expected)), seen);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(P(static_cast<uintptr_t>(i) + 1), a.GetAt(i));
}

TEST(PointerArrayGrowth, FullArraysGrowByAnEighthUpToTheCap)
{
    PointerArray a;
    a.SetSize(80);
    EXPECT_EQ(80, a.GetCapacity());
    a.Add(P(1));
    EXPECT_EQ(90, a.GetCapacity());

    PointerArray big;
    big.SetSize(8192);
    big.Add(P(1));
    EXPECT_EQ(8192 + 1024, big.GetCapacity());
    PointerArray bigger;
    bigger.SetSize(20000);
    bigger.Add(P(1));
    EXPECT_EQ(21024, bigger.GetCapacity());

    // A jump beyond one step allocates exactly the new size.
    PointerArray jump;
    jump.Add(P(1));
    jump.SetAtGrow(99, P(2));
    EXPECT_EQ(100, jump.GetSize());
    EXPECT_EQ(100, jump.GetCapacity());
    for (int i = 1; i < 99; ++i)
        ASSERT_EQ(nullptr, jump.GetAt(i));
    EXPECT_EQ(P(2), jump.GetAt(99));

    // A set grow-by replaces the default step.
    PointerArray stepped;
    stepped.SetSize(10, 3);
    stepped.Add(P(1));
    EXPECT_EQ(13, stepped.GetCapacity());
}

TEST(PointerArrayGrowth, ShrinkKeepsCapacityAndRegrowthClearsSlots)
{
    PointerArray a;
    for (uintptr_t i = 1; i <= 10; ++i)
        a.Add(P(i));
    int capacity = a.GetCapacity();
    a.SetSize(3);
    EXPECT_EQ(3, a.GetSize());
    EXPECT_EQ(capacity, a.GetCapacity());
    a.SetSize(6);
    EXPECT_EQ(P(3), a.GetAt(2));
    EXPECT_EQ(nullptr, a.GetAt(3));
    EXPECT_EQ(nullptr, a.GetAt(5));
    a.RemoveAll();
    EXPECT_EQ(0, a.GetSize());
    EXPECT_EQ(0, a.GetCapacity());
    a.Add(P(1));
    EXPECT_EQ(1, a.GetCapacity());
}

TEST(PointerArrayRemoval, RemainingElementsCloseTheGapInOrder)
{
    PointerArray a;
    a.Add(P(10));
    a.Add(P(20));
    a.Add(P(30));
    a.RemoveAt(0);
    ASSERT_EQ(2, a.GetSize());
    EXPECT_EQ(P(20), a.GetAt(0));
    EXPECT_EQ(P(30), a.GetAt(1));

    PointerArray b;
    for (uintptr_t i = 1; i <= 6; ++i)
        b.Add(P(i));
    b.RemoveAt(1, 3);
    ASSERT_EQ(3, b.GetSize());
    EXPECT_EQ(P(1), b.GetAt(0));
    EXPECT_EQ(P(5), b.GetAt(1));
    EXPECT_EQ(P(6), b.GetAt(2));
    b.RemoveAt(2, 50);  // cut to what exists
    EXPECT_EQ(2, b.GetSize());
    b.RemoveAt(5);
    b.RemoveAt(-1);
    EXPECT_EQ(2, b.GetSize());
}

TEST(PointerArrayAccess, IndexesOutsideTheSizeAreHarmless)
{
    PointerArray a;
    EXPECT_EQ(nullptr, a.GetAt(0));
    a.SetAt(0, P(1));
    EXPECT_EQ(0, a.GetSize());
    a.Add(P(1));
    a.SetAt(0, P(7));
    EXPECT_EQ(P(7), a[0]);
    a.SetAt(1, P(8));
    a.SetAtGrow(-1, P(9));
    EXPECT_EQ(1, a.GetSize());
    EXPECT_EQ(nullptr, a.GetAt(-1));
    EXPECT_EQ(nullptr, a.GetAt(1));
}

// --- StringKeyMap ---------------------------------------------------------------------------

// Buckets worked out from hash = hash * 33 + (signed) byte, modulo 17:
//   "a" 97 -> 12            "r" 114 -> 12          "ab" 97*33+98 = 3299 -> 1
//   "ba" 98*33+97 = 3331 -> 16
//   "Bin" (66*33+105)*33+110 = 75449 -> 3      "bin" (98*33+105)*33+110 = 110297 -> 1
//   "x\x80" 120*33-128 = 3832 -> 7   (unsigned bytes would give 3960+128 = 4088 -> 8)
//   "\xB0\xA1" -80*33-95 = -2735, as u32 2^32-2735 -> 3   (unsigned: 5969 -> 2)
//   "\xFF\xFF" -1*33-1 = -34, as u32 2^32-34 -> 1         (unsigned: 8670 -> 0)
// (2^32 leaves remainder 1 when divided by 17.)
TEST(StringKeyMapOrder, BucketsAscendingNewestFirstWithinABucket)
{
    StringKeyMap map;
    const char* inserted[] = {"Bin", "bin", "\xB0\xA1", "x\x80", "\xFF\xFF", "ab", "a", "r", "ba"};
    for (uintptr_t i = 0; i < sizeof(inserted) / sizeof(inserted[0]); ++i)
        map.SetAt(inserted[i], P(i + 1));
    EXPECT_EQ(9, map.GetCount());

    std::vector<std::pair<std::string, void*>> expected{
        {"ab", P(6)},       {"\xFF\xFF", P(5)}, {"bin", P(2)},  // bucket 1
        {"\xB0\xA1", P(3)}, {"Bin", P(1)},                      // bucket 3
        {"x\x80", P(4)},                                         // bucket 7
        {"r", P(8)},        {"a", P(7)},                         // bucket 12
        {"ba", P(9)},                                            // bucket 16
    };
    EXPECT_EQ(expected, Iterate(map));
}

TEST(StringKeyMapOrder, InsertionOrderAcrossBucketsDoesNotMatter)
{
    StringKeyMap first, second;
    first.SetAt("Bin", P(1));
    first.SetAt("bin", P(2));
    second.SetAt("bin", P(2));
    second.SetAt("Bin", P(1));
    std::vector<std::pair<std::string, void*>> expected{{"bin", P(2)}, {"Bin", P(1)}};
    EXPECT_EQ(expected, Iterate(first));
    EXPECT_EQ(expected, Iterate(second));
}

TEST(StringKeyMapOrder, HashKeyFollowsTheSignedByteRule)
{
    EXPECT_EQ(0u, StringKeyMap::HashKey(""));
    EXPECT_EQ(3299u, StringKeyMap::HashKey("ab"));
    EXPECT_EQ(3832u, StringKeyMap::HashKey("x\x80"));
    EXPECT_EQ(0xFFFFFFFFu - 2734u, StringKeyMap::HashKey("\xB0\xA1"));
}

TEST(StringKeyMapContents, ReplacingKeepsCountAndPlace)
{
    StringKeyMap map;
    map.SetAt("a", P(1));
    map.SetAt("r", P(2));
    map.SetAt("ab", P(3));
    map.SetAt("a", P(9));
    EXPECT_EQ(3, map.GetCount());
    std::vector<std::pair<std::string, void*>> expected{{"ab", P(3)}, {"r", P(2)}, {"a", P(9)}};
    EXPECT_EQ(expected, Iterate(map));
    void* value = nullptr;
    EXPECT_EQ(1, map.Lookup("a", value));
    EXPECT_EQ(P(9), value);
}

TEST(StringKeyMapContents, KeysMatchExactlyAndAreCopied)
{
    StringKeyMap map;
    char key[] = "Bin";
    map.SetAt(key, P(1));
    key[0] = 'X';  // the map holds its own copy
    void* value = P(77);
    EXPECT_EQ(0, map.Lookup("bin", value));
    EXPECT_EQ(0, map.Lookup("BIN", value));
    EXPECT_EQ(0, map.Lookup("Bi", value));
    EXPECT_EQ(0, map.Lookup("Xin", value));
    EXPECT_EQ(P(77), value);  // untouched when not found
    EXPECT_EQ(1, map.Lookup("Bin", value));
    EXPECT_EQ(P(1), value);
    map.SetAt("bin", nullptr);
    EXPECT_EQ(2, map.GetCount());
    EXPECT_EQ(1, map.Lookup("bin", value));
    EXPECT_EQ(nullptr, value);
}

TEST(StringKeyMapContents, EmptyMapIteratesNothing)
{
    StringKeyMap map;
    EXPECT_EQ(nullptr, map.GetStartPosition());
    void* value = P(5);
    EXPECT_EQ(0, map.Lookup("", value));
    StringKeyMap::Position pos = nullptr;
    CString key("unchanged");
    map.GetNextAssoc(pos, key, value);
    EXPECT_EQ(nullptr, pos);
    EXPECT_EQ(P(5), value);
}

TEST(StringKeyMapContents, ManyKeysAcrossBlocksAndRemoveAll)
{
    StringKeyMap map(3);
    for (int round = 0; round < 2; ++round) {
        for (uintptr_t i = 0; i < 500; ++i)
            map.SetAt(("key" + std::to_string(i)).c_str(), P(i + 1));
        EXPECT_EQ(500, map.GetCount());
        auto items = Iterate(map);
        ASSERT_EQ(500u, items.size());
        std::set<std::string> keys;
        for (const auto& item : items) {
            keys.insert(item.first);
            void* value = nullptr;
            ASSERT_EQ(1, map.Lookup(item.first.c_str(), value));
            EXPECT_EQ(item.second, value);
        }
        EXPECT_EQ(500u, keys.size());
        // Buckets come in ascending order, whatever the keys.
        for (size_t i = 1; i < items.size(); ++i)
            ASSERT_LE(StringKeyMap::HashKey(items[i - 1].first.c_str()) % 17,
                      StringKeyMap::HashKey(items[i].first.c_str()) % 17);
        map.RemoveAll();
        EXPECT_EQ(0, map.GetCount());
        EXPECT_EQ(nullptr, map.GetStartPosition());
    }
}

TEST(StringKeyMapOrder, TheFullGroupRangeKeepsTheBucketOrderAndEveryKeyIsFound)
{
    // As many keys as a package can have groups, some of them equal but for case.
    const int count = 65535;
    StringKeyMap map(10);
    std::vector<std::vector<std::string>> byBucket(StringKeyMap::kBucketCount);
    for (int i = 0; i < count; ++i) {
        std::string key = (i % 7 == 0 ? "GROUP" : "group") + std::to_string(i / 2);
        void* seen = nullptr;
        if (map.Lookup(key.c_str(), seen))
            continue;
        map.SetAt(key.c_str(), P(static_cast<uintptr_t>(i) + 1));
        byBucket[StringKeyMap::HashKey(key.c_str()) % StringKeyMap::kBucketCount].push_back(key);
    }
    std::vector<std::string> expected;
    for (const auto& keys : byBucket)
        expected.insert(expected.end(), keys.rbegin(), keys.rend());
    ASSERT_EQ(static_cast<int>(expected.size()), map.GetCount());
    auto items = Iterate(map);
    ASSERT_EQ(expected.size(), items.size());
    for (size_t i = 0; i < items.size(); ++i)
        ASSERT_EQ(expected[i], items[i].first) << i;
    // A replaced value keeps the key's place; keys differing in case stay apart.
    map.SetAt(expected[5].c_str(), P(7));
    void* value = nullptr;
    ASSERT_EQ(1, map.Lookup(expected[5].c_str(), value));
    EXPECT_EQ(P(7), value);
    EXPECT_EQ(expected[5], Iterate(map)[5].first);
    EXPECT_EQ(0, map.Lookup("Group1", value));
    EXPECT_EQ(1, map.Lookup("group1", value));
    EXPECT_EQ(1, map.Lookup("GROUP0", value));
}

TEST(StringKeyMapIndex, LookupsAgreeWithTheExactComparisonInTheKeysBucket)
{
    // Under a double-byte code page 0x81 is a lead byte: "a\x81" ends in a
    // lone one, which the exact comparison may see differently from its bytes.
    const std::vector<std::string> keys = {"a", "ab", "\x81\x40", "a\x81", "b\x81\x40", "\x81", "", "a\x81\x41"};
    std::vector<std::string> probes = keys;
    for (const char* extra : {"A", "b", "a\x82", "\x81\x41", "b\x81"})
        probes.push_back(extra);
    for (size_t firstIrregular : {size_t(0), size_t(3), keys.size()}) {
        SCOPED_TRACE(firstIrregular);
        StringKeyMap map;
        // Reference: what a search of the key's bucket finds, newest first.
        std::vector<std::pair<std::string, void*>> stored;
        auto find = [&stored](const std::string& key) -> std::pair<std::string, void*>* {
            const uint32_t bucket = StringKeyMap::HashKey(key.c_str()) % StringKeyMap::kBucketCount;
            for (auto it = stored.rbegin(); it != stored.rend(); ++it) {
                if (StringKeyMap::HashKey(it->first.c_str()) % StringKeyMap::kBucketCount == bucket &&
                    CompareMbs(it->first.c_str(), key.c_str()) == 0)
                    return &*it;
            }
            return nullptr;
        };
        for (size_t i = 0; i < keys.size(); ++i) {
            // Regular keys only up to firstIrregular, then all of them.
            if (i >= firstIrregular || (keys[i].empty() || static_cast<uint8_t>(keys[i].back()) != 0x81)) {
                map.SetAt(keys[i].c_str(), P(i + 1));
                if (auto* existing = find(keys[i]))
                    existing->second = P(i + 1);
                else
                    stored.emplace_back(keys[i], P(i + 1));
            }
        }
        EXPECT_EQ(static_cast<int>(stored.size()), map.GetCount());
        for (const std::string& probe : probes) {
            void* value = nullptr;
            auto* expected = find(probe);
            EXPECT_EQ(expected ? 1 : 0, map.Lookup(probe.c_str(), value)) << probe;
            if (expected) {
                EXPECT_EQ(expected->second, value) << probe;
            }
        }
    }
}
