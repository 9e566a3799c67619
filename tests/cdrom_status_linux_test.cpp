#include "platform/linux/cdrom_status_linux.h"

#include <gtest/gtest.h>

#include <linux/cdrom.h>

namespace trayvo {
namespace {

TEST(CdromStatus, ADiscCountsOnlyInAReadyDriveAsAKindTheKernelCanRead)
{
    for (const int disc : {CDS_AUDIO, CDS_DATA_1, CDS_DATA_2, CDS_XA_2_1, CDS_XA_2_2, CDS_MIXED}) {
        EXPECT_TRUE(isReadableDisc(CDS_DISC_OK, disc)) << disc;
        for (const int drive : {CDS_NO_INFO, CDS_TRAY_OPEN, CDS_DRIVE_NOT_READY, -1})
            EXPECT_FALSE(isReadableDisc(drive, disc)) << drive << ", " << disc;
    }
    // Found no disc, the disc query answers with a drive status; 99 and 106
    // border the readable kinds.
    for (const int disc : {CDS_NO_INFO, CDS_NO_DISC, CDS_TRAY_OPEN, CDS_DISC_OK, -1, 99, 106})
        EXPECT_FALSE(isReadableDisc(CDS_DISC_OK, disc)) << disc;
}

} // namespace
} // namespace trayvo
