#include "drives/ctlCdrom.h"

#include "platform/text_encoding.h"
#include "resources/texts.h"

#include <string>

namespace trayvo {
namespace {

// The alias of one tray action, closed when the action ends, however it ends.
// An alias left open would keep its drive: the next action's open of the
// alias would fail, and its door command would move this drive instead.
class ActionAlias {
public:
    explicit ActionAlias(OsOperations& os) : os_(os) {}
    ~ActionAlias()
    {
        // A destructor must not throw, and a close that fails leaves
        // nothing more to do.
        try {
            os_.sendMciString(u"close nowCD");
        } catch (...) {
        }
    }
    ActionAlias(const ActionAlias&) = delete;
    ActionAlias& operator=(const ActionAlias&) = delete;

private:
    OsOperations& os_;
};

} // namespace

SubscriptOutOfRange::SubscriptOutOfRange()
    : std::out_of_range(std::string(texts::subscriptOutOfRange))
{
}

FolderNotOpened::FolderNotOpened(const DriveRoot& root)
    : std::runtime_error(std::string(texts::folderNotOpenedBefore) + toUtf8(root)
                         + std::string(texts::folderNotOpenedAfter))
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

void ctlCdrom::OpenDoor(std::int32_t index)
{
    moveDoor(index, u"open");
}

void ctlCdrom::CloseDoor(std::int32_t index)
{
    moveDoor(index, u"closed");
}

// The drive is opened under an alias for this one action and closed at its
// end, whatever each command returns: after a failed open the other two
// address an alias that does not exist and fail as well, silently.
void ctlCdrom::moveDoor(std::int32_t index, std::u16string_view doorState)
{
    const DriveRoot& root = driveAt(index);
    const ActionAlias alias(os_);
    os_.sendMciString(u"open " + root + u" type CDAudio alias nowCD wait");
    os_.sendMciString(u"set nowCD door " + std::u16string(doorState) + u" wait");
}

void ctlCdrom::ExploreDrive(const DriveRoot& path)
{
    if (!os_.startProcess(u"explorer.exe " + path, ShowState::MinimizedActivated))
        throw FolderNotOpened(path);
}

const DriveRoot& ctlCdrom::driveAt(std::int32_t index) const
{
    if (index < 0 || index > upperBound())
        throw SubscriptOutOfRange();
    return cdromDrives_[static_cast<std::size_t>(index)];
}

} // namespace trayvo
