#include "platform/linux/cdrom_status_linux.h"

#include <linux/cdrom.h>

#include <algorithm>
#include <limits>

namespace trayvo {

static_assert(discSectorBytes == CD_FRAMESIZE);

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

std::uint32_t discSectorCount(std::uint64_t capacityBytes)
{
    constexpr std::uint64_t largest = std::numeric_limits<std::uint32_t>::max();
    const std::uint64_t sectors = std::clamp<std::uint64_t>(capacityBytes / discSectorBytes, 1, largest);
    return static_cast<std::uint32_t>(sectors);
}

} // namespace trayvo
