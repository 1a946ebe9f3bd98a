// ProgressSpan: positions in proportion to the bytes done, forward only, within the span.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ProgressHook.h"

namespace {

void Record(int position, void* positions) { static_cast<std::vector<int>*>(positions)->push_back(position); }

}  // namespace

TEST(ProgressSpan, MovesInProportionOnlyForwardAndOnlyWhenThePositionChanges)
{
    std::vector<int> shown;
    ProgressSpan span(20, 40, 1000, Record, &shown);
    EXPECT_EQ(20, span.Position());
    span.Advance(40);   // 0.8 of a position: not yet one
    span.Advance(10);   // 50 bytes: 21
    span.Advance(1);    // still 21: not handed on again
    span.Advance(449);  // 500 bytes: the middle
    span.Advance(499);  // 999 bytes: 39, not rounded up to the end
    span.Advance(1);
    EXPECT_EQ((std::vector<int>{21, 30, 39, 40}), shown);
    // More than the total (a check pass, then the write) never goes past the end.
    span.Advance(5000);
    EXPECT_EQ(40, span.Position());
    EXPECT_EQ(4u, shown.size());
}

TEST(ProgressSpan, EmptyWorkIsDoneAtOnceAndHugeTotalsDoNotOverflow)
{
    std::vector<int> shown;
    ProgressSpan empty(70, 100, 0, Record, &shown);
    empty.Advance(0);
    EXPECT_EQ(std::vector<int>{100}, shown);

    // Two passes over an entry just under 4 GiB, and a total near 2^64.
    shown.clear();
    ProgressSpan twice(70, 100, 2 * static_cast<uint64_t>(UINT32_MAX), Record, &shown);
    twice.Advance(UINT32_MAX);
    twice.Advance(UINT32_MAX);
    EXPECT_EQ((std::vector<int>{85, 100}), shown);
    shown.clear();
    ProgressSpan huge(0, 100, UINT64_MAX - 1, Record, &shown);
    huge.Advance(UINT64_MAX / 4);
    huge.Advance(UINT64_MAX);
    EXPECT_EQ((std::vector<int>{24, 100}), shown);

    // A span of no width and one given backwards stay where they start.
    shown.clear();
    ProgressSpan flat(50, 50, 10, Record, &shown);
    ProgressSpan backwards(60, 40, 10, Record, &shown);
    flat.Advance(10);
    backwards.Advance(10);
    EXPECT_TRUE(shown.empty());
}
