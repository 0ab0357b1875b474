#include "app/SaveSpace.h"

#include <gtest/gtest.h>

namespace {
constexpr std::uint64_t MiB = 1 << 20;
constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
} // namespace

TEST(SaveSpace, FloorIsOneGibibyteOrFivePercentWhicheverIsLess) {
    EXPECT_EQ(FreeSpaceFloor(100 * GiB), GiB);
    EXPECT_EQ(FreeSpaceFloor(20 * GiB), GiB);
    EXPECT_EQ(FreeSpaceFloor(10 * GiB), GiB / 2);
    EXPECT_EQ(FreeSpaceFloor(4 * MiB), 4 * MiB / 20);
    EXPECT_EQ(FreeSpaceFloor(0), 0u);

    const TVolumeSpace small{300 * 1024, 4 * MiB}; // floor 209715 bytes
    EXPECT_TRUE(RoomToSave(small, 300 * 1024 - 209715));
    EXPECT_FALSE(RoomToSave(small, 300 * 1024 - 209715 + 1));
    EXPECT_FALSE(RoomToSave({1000, 4 * MiB}, 0)) << "already below the floor";
    EXPECT_EQ(BmpFileBytes(5, 3), 54u + 16 * 3);
    EXPECT_EQ(BmpFileBytes(0, 0), 54u);
}

TEST(SaveSpace, MeasuresARealVolumeAndNothingForAMissingFolder) {
    const auto space = VolumeSpaceOf(".");
    ASSERT_TRUE(space.has_value());
    EXPECT_GT(space->Total, 0u);
    EXPECT_LE(space->Available, space->Total);
    EXPECT_FALSE(VolumeSpaceOf("/no/such/folder/at/all").has_value());
    EXPECT_EQ(SavingStoppedText("/w/images", {3 * MiB / 2, 4 * MiB}),
              "Saving images stopped: 1.5 MiB free in \"/w/images\", 0.2 MiB are kept free");
}
