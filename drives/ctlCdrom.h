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

// The computer's optical drives. The list is built once, at start-up, and a
// drive is addressed by its position in it, which is also its position in the
// main window's drive selector.
class ctlCdrom {
public:
    explicit ctlCdrom(OsOperations& os);

    // Builds the list: the optical drives in the order the platform gives
    // its candidates, then one slot that is never filled.
    void ListCdromDrives();

    // Whether a readable disc is in the drive at index. Throws
    // SubscriptOutOfRange for a position outside the list.
    bool HasDisc(std::int32_t index) const;

    const std::vector<DriveRoot>& cdromDrives() const { return cdromDrives_; }

    // The list's upper bound, which is also the number of drives.
    int upperBound() const { return static_cast<int>(cdromDrives_.size()) - 1; }

private:
    const DriveRoot& driveAt(std::int32_t index) const;

    OsOperations& os_;
    std::vector<DriveRoot> cdromDrives_{DriveRoot{}};
};

} // namespace trayvo
