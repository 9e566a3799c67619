#include "platform/linux/cdrom_status_linux.h"

#include <gtest/gtest.h>

#include <linux/cdrom.h>

#include <cstdint>
#include <limits>
#include <set>
#include <utility>

namespace trayvo {
namespace {

TEST(CdromStatus, DiscIsReadableOnlyInReadyDriveWithKnownDiscKind)
{
    const std::set<std::pair<int, int>> readable = {
        {CDS_DISC_OK, CDS_AUDIO},  {CDS_DISC_OK, CDS_DATA_1}, {CDS_DISC_OK, CDS_DATA_2},
        {CDS_DISC_OK, CDS_XA_2_1}, {CDS_DISC_OK, CDS_XA_2_2}, {CDS_DISC_OK, CDS_MIXED}};
    const int driveStatuses[] = {CDS_NO_INFO, CDS_NO_DISC, CDS_TRAY_OPEN, CDS_DRIVE_NOT_READY,
                                 CDS_DISC_OK, -1, CDS_AUDIO};
    // The drive statuses also come back from the disc query when it finds no
    // disc; 99 and 106 border the readable kinds.
    const int discStatuses[] = {CDS_NO_INFO, CDS_NO_DISC, CDS_TRAY_OPEN, CDS_DRIVE_NOT_READY,
                                CDS_DISC_OK, CDS_AUDIO,   CDS_DATA_1,    CDS_DATA_2,
                                CDS_XA_2_1,  CDS_XA_2_2,  CDS_MIXED,     -1,
                                99,          106};
    for (const int drive : driveStatuses) {
        for (const int disc : discStatuses) {
            EXPECT_EQ(isReadableDisc(drive, disc), readable.contains({drive, disc}))
                << "drive " << drive << ", disc " << disc;
        }
    }
}

TEST(CdromStatus, SectorCountIsNeverZeroAndFitsThirtyTwoBits)
{
    constexpr std::uint64_t maxSectors = std::numeric_limits<std::uint32_t>::max();
    const std::pair<std::uint64_t, std::uint32_t> rows[] = {
        {0, 1},
        {2047, 1},
        {2048, 1},
        {4095, 1},
        {4096, 2},
        {737'280'000, 360'000},
        {maxSectors * 2048, std::numeric_limits<std::uint32_t>::max()},
        {(maxSectors + 1) * 2048, std::numeric_limits<std::uint32_t>::max()},
        {std::numeric_limits<std::uint64_t>::max(), std::numeric_limits<std::uint32_t>::max()},
    };
    for (const auto& [bytes, sectors] : rows)
        EXPECT_EQ(discSectorCount(bytes), sectors) << bytes << " bytes";
    EXPECT_EQ(discSectorBytes, 2048u);
}

} // namespace
} // namespace trayvo
