#include "drives/ctlCdrom.h"

#include "resources/texts.h"

#include <string>

namespace trayvo {

SubscriptOutOfRange::SubscriptOutOfRange()
    : std::out_of_range(std::string(texts::subscriptOutOfRange))
{
}

ctlCdrom::ctlCdrom(OsOperations& os)
    : os_(os)
{
}

void ctlCdrom::ListCdromDrives()
{
    cdromDrives_.assign(1, DriveRoot{});
    for (const DriveRoot& root : os_.candidateRoots()) {
        if (os_.getDriveType(root) != DriveType::Cdrom)
            continue;
        cdromDrives_.back() = root;
        cdromDrives_.emplace_back();
    }
}

bool ctlCdrom::HasDisc(std::int32_t index) const
{
    const DriveRoot& root = driveAt(index);
    // The unfilled slot names no drive; asked with an empty root, the
    // operating system would answer for the current drive instead.
    if (root.empty())
        return false;
    return os_.getDiskFreeSpace(root).totalClusters != 0;
}

const DriveRoot& ctlCdrom::driveAt(std::int32_t index) const
{
    if (index < 0 || index > upperBound())
        throw SubscriptOutOfRange();
    return cdromDrives_[static_cast<std::size_t>(index)];
}

} // namespace trayvo
