#include "app/SaveSpace.h"

#include <gtest/gtest.h>

namespace {
constexpr std::uint64_t MiB = 1 << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
} // namespace

TEST(SaveSpace, AFrameIsSavedOnlyWhenItLeavesTheFloorFree) {
    EXPECT_EQ(FreeSpaceFloor(20 * GiB), GiB);
    EXPECT_EQ(FreeSpaceFloor(4 * MiB), 4 * MiB / 20);

    const TDiskSpace small{300 * 1024, 4 * MiB, true}; // floor 209715 bytes
    EXPECT_TRUE(RoomToSave(small, 300 * 1024 - 209715));
    EXPECT_FALSE(RoomToSave(small, 300 * 1024 - 209715 + 1));
    EXPECT_FALSE(RoomToSave({1000, 4 * MiB, true}, 0)) << "already below the floor";
    EXPECT_EQ(BmpFileBytes(5, 3), 54u + 16 * 3);
    EXPECT_EQ(BmpFileBytes(0, 0), 54u);
}

TEST(SaveSpace, NoticeNamesTheFolderTheFreeSpaceAndTheFloor) {
    EXPECT_EQ(SavingStoppedText("/w/images", {3 * MiB / 2, 4 * MiB, true}),
              "Saving images stopped: 1.5 MiB free in \"/w/images\", 0.2 MiB are kept free");
}
