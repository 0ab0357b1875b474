#include "meter/RunningArray.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<int> PeaksAfterPushes(TRunningArray& window, const std::vector<int>& values) {
    std::vector<int> peaks;
    for (int v : values) {
        window.Push(v);
        peaks.push_back(window.Peak());
    }
    return peaks;
}

} // namespace

TEST(RunningArray, StartsWithSizeOneAndKeepsOnlyTheNewestValue) {
    TRunningArray window;
    EXPECT_EQ(window.Size(), 1);
    EXPECT_EQ(PeaksAfterPushes(window, {7, 3, -4}), (std::vector<int>{7, 3, -4}));
    EXPECT_EQ(window.Count(), 1);
}

TEST(RunningArray, PeakStaysWhileTheLargestValueIsInTheWindow) {
    TRunningArray window;
    window.SetSize(3);
    EXPECT_EQ(PeaksAfterPushes(window, {5, 9, 1, 2, 0}), (std::vector<int>{5, 9, 9, 9, 2}));
    EXPECT_EQ(window.Count(), 3);
}

TEST(RunningArray, PeakComparesSigned) {
    TRunningArray window;
    window.SetSize(2);
    EXPECT_EQ(PeaksAfterPushes(window, {-7, -3, -9}), (std::vector<int>{-7, -3, -3}));
}

TEST(RunningArray, SizeBelowOneBecomesOne) {
    for (int n : {0, -5}) {
        TRunningArray window;
        window.SetSize(4);
        PeaksAfterPushes(window, {8, 6, 4});
        window.SetSize(n);
        EXPECT_EQ(window.Size(), 1) << n;
        EXPECT_EQ(window.Count(), 1) << n;
        window.Push(2);
        EXPECT_EQ(window.Count(), 1) << n;
        EXPECT_EQ(window.Peak(), 2) << n;
    }
}

TEST(RunningArray, ShrinkingKeepsTheNewestValues) {
    TRunningArray window;
    window.SetSize(6);
    PeaksAfterPushes(window, {9, 9, 9, 9, 3, 5});
    window.SetSize(2);
    EXPECT_EQ(window.Count(), 2);
    EXPECT_EQ(window.Peak(), 5);
}

TEST(RunningArray, GrowingKeepsTheHeldValuesAndAddsNone) {
    TRunningArray window;
    window.SetSize(2);
    PeaksAfterPushes(window, {4, 6});
    window.SetSize(10);
    EXPECT_EQ(window.Size(), 10);
    EXPECT_EQ(window.Count(), 2);
    EXPECT_EQ(PeaksAfterPushes(window, {1, 2, 3}), (std::vector<int>{6, 6, 6}));
    EXPECT_EQ(window.Count(), 5);
}

TEST(RunningArray, EmptyWindowPeaksAtZero) {
    TRunningArray window;
    EXPECT_EQ(window.Count(), 0);
    EXPECT_EQ(window.Peak(), 0);
}
