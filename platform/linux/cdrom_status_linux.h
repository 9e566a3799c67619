#pragma once

namespace trayvo {

// The drive counts as holding a disc only when the kernel reports both a ready
// drive and a disc kind it can read; "no info", an open tray, a drive still
// spinning up and every error result all mean no disc.
// driveStatus is the result of CDROM_DRIVE_STATUS, discStatus that of
// CDROM_DISC_STATUS.
bool isReadableDisc(int driveStatus, int discStatus);

} // namespace trayvo
