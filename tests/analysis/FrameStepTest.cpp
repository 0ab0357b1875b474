#include "analysis/FrameStep.h"

#include <gtest/gtest.h>

#include <climits>

TEST(FrameStep, PercentTruncatesAndIsZeroForAnEmptyFrame) {
    EXPECT_EQ(MovementPercent(0, 0), 0);
    EXPECT_EQ(MovementPercent(5, 0), 0);
    EXPECT_EQ(MovementPercent(1, 3), 33);
    EXPECT_EQ(MovementPercent(2, 3), 66);
    EXPECT_EQ(MovementPercent(307200, 307200), 100);
    EXPECT_EQ(MovementPercent(3071, 307200), 0);
    EXPECT_EQ(MovementPercent(3072, 307200), 1);
}

TEST(FrameStep, PercentOfFramesBeyond21MillionPixelsDoesNotOverflow) {
    const std::int64_t area = 6000LL * 4000; // 24 million pixels
    EXPECT_EQ(MovementPercent(24'000'000, area), 100);
    EXPECT_EQ(MovementPercent(23'999'999, area), 99);
    EXPECT_EQ(MovementPercent(INT_MAX, INT_MAX), 100);
}

TEST(FrameStep, MovementNeedsStrictlyMoreThanTheMinimum) {
    EXPECT_FALSE(IsMovement(100, 100));
    EXPECT_TRUE(IsMovement(101, 100));
    EXPECT_FALSE(IsMovement(0, 0));
    EXPECT_TRUE(IsMovement(0, -1)); // the minimum has no range limits
}

TEST(FrameStep, SavedImageNamesFollowTheTimeOfDay) {
    EXPECT_EQ(SavedImageName(12, 0, 0, 0, '.'), "./images/0.5.bmp");
    EXPECT_EQ(SavedImageName(6, 0, 0, 0, '.'), "./images/0.25.bmp");
    EXPECT_EQ(SavedImageName(14, 23, 45, 678, '.'), "./images/0.599834236111111.bmp");
    EXPECT_EQ(SavedImageName(0, 0, 5, 0, '.'), "./images/5.78703703703704E-5.bmp");
    EXPECT_EQ(SavedImageName(0, 0, 0, 0, '.'), "./images/0.bmp");
    EXPECT_EQ(SavedImageName(12, 0, 0, 0, ','), "./images/0,5.bmp");
    EXPECT_EQ(SavedImageName(23, 59, 59, 999, ','), "./images/0,999999988425926.bmp");
}

TEST(FrameStep, PlainNotationReachesDownToOneTenThousandth) {
    EXPECT_EQ(FormatDayFraction(DayFraction(0, 0, 8, 640), '.'), "0.0001");
    EXPECT_EQ(FormatDayFraction(DayFraction(0, 0, 8, 639), '.'), "9.99884259259259E-5");
    EXPECT_EQ(FormatDayFraction(DayFraction(0, 0, 0, 864), ','), "1E-5");
    EXPECT_EQ(FormatDayFraction(DayFraction(0, 0, 0, 1), '.'), "1.15740740740741E-8");
    EXPECT_EQ(FormatDayFraction(0.000123, ','), "0,000123");
    EXPECT_EQ(FormatDayFraction(2.5, '.'), "2.5");
    EXPECT_EQ(FormatDayFraction(1.0, '.'), "1");
}
