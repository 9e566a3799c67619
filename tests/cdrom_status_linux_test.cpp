#include "platform/linux/cdrom_status_linux.h"

#include <gtest/gtest.h>

#include <linux/cdrom.h>

#include <cstdint>
#include <limits>

namespace trayvo {
namespace {

TEST(CdromStatus, DiscIsReadableOnlyInReadyDriveWithKnownDiscKind)
{
    for (const int disc : {CDS_AUDIO, CDS_DATA_1, CDS_DATA_2, CDS_XA_2_1, CDS_XA_2_2, CDS_MIXED}) {
        EXPECT_TRUE(isReadableDisc(CDS_DISC_OK, disc)) << disc;
        for (const int drive : {CDS_NO_INFO, CDS_NO_DISC, CDS_TRAY_OPEN, CDS_DRIVE_NOT_READY, -1})
            EXPECT_FALSE(isReadableDisc(drive, disc)) << drive << ", " << disc;
    }
    // The disc query answers with drive statuses when it finds no disc; 99
    // and 106 border the readable kinds.
    for (const int disc : {CDS_NO_INFO, CDS_NO_DISC, CDS_TRAY_OPEN, CDS_DRIVE_NOT_READY, CDS_DISC_OK, -1, 99, 106})
        EXPECT_FALSE(isReadableDisc(CDS_DISC_OK, disc)) << disc;
}

TEST(CdromStatus, SectorCountIsNeverZeroAndFitsThirtyTwoBits)
{
    constexpr std::uint64_t most = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(discSectorCount(0), 1u);
    EXPECT_EQ(discSectorCount(4095), 1u);
    EXPECT_EQ(discSectorCount(737'280'000), 360'000u);
    EXPECT_EQ(discSectorCount(most * 2048), most);
    EXPECT_EQ(discSectorCount((most + 1) * 2048), most);
    EXPECT_EQ(discSectorCount(std::numeric_limits<std::uint64_t>::max()), most);
}

} // namespace
} // namespace trayvo
