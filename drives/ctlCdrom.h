#pragma once

#include "platform/os_operations.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace trayvo {

// A list position outside the drive list.
class SubscriptOutOfRange : public std::out_of_range {
public:
    SubscriptOutOfRange();
};

// The folder of a drive could not be opened in the file explorer.
class FolderNotOpened : public std::runtime_error {
public:
    explicit FolderNotOpened(const DriveRoot& root);
};

// The computer's optical drives. The list is built at start-up and again
// whenever the system reports drives attached or removed; a drive is
// addressed by its position in it, which is also its position in the main
// window's drive selector.
class ctlCdrom {
public:
    explicit ctlCdrom(OsOperations& os);

    // Builds the list: the optical drives in the order the platform gives
    // its candidates, then one slot that is never filled.
    void ListCdromDrives();

    // Whether a readable disc is in the drive at index. Throws
    // SubscriptOutOfRange for a position outside the list.
    bool HasDisc(std::int32_t index) const;

    // Open and close the tray of the drive at index, returning once it has
    // moved. Failures are silent: the tray stays where it was. Throw
    // SubscriptOutOfRange for a position outside the list.
    void OpenDoor(std::int32_t index);
    void CloseDoor(std::int32_t index);

    // Opens path, a drive's root, in the file explorer. Throws
    // FolderNotOpened when the explorer cannot be started on it.
    void ExploreDrive(const DriveRoot& path);

    const std::vector<DriveRoot>& cdromDrives() const { return cdromDrives_; }

    // The list's upper bound, which is also the number of drives.
    int upperBound() const { return static_cast<int>(cdromDrives_.size()) - 1; }

private:
    const DriveRoot& driveAt(std::int32_t index) const;
    void moveDoor(std::int32_t index, std::u16string_view doorState);

    OsOperations& os_;
    std::vector<DriveRoot> cdromDrives_{DriveRoot{}};
};

} // namespace trayvo
