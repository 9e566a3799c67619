#include "platform/linux/cdrom_status_linux.h"

#include <linux/cdrom.h>

namespace trayvo {

bool isReadableDisc(int driveStatus, int discStatus)
{
    if (driveStatus != CDS_DISC_OK)
        return false;
    switch (discStatus) {
    case CDS_AUDIO:
    case CDS_DATA_1:
    case CDS_DATA_2:
    case CDS_XA_2_1:
    case CDS_XA_2_2:
    case CDS_MIXED:
        return true;
    default:
        return false;
    }
}

} // namespace trayvo
