#pragma once

#include <cstdint>

namespace trayvo {

// The "cooked" sector size every readable disc kind presents to the system.
inline constexpr std::uint32_t discSectorBytes = 2048;

// The drive counts as holding a disc only when the kernel reports both a ready
// drive and a disc kind it can read; "no info", an open tray, a drive still
// spinning up and every error result all mean no disc.
// driveStatus is the result of CDROM_DRIVE_STATUS, discStatus that of
// CDROM_DISC_STATUS.
bool isReadableDisc(int driveStatus, int discStatus);

// Capacity of a readable disc in 2048-byte sectors. Never zero, because an
// audio disc may report no bytes at all and zero would read as "no disc";
// clamped to what the 32-bit free-space figures can carry.
std::uint32_t discSectorCount(std::uint64_t capacityBytes);

} // namespace trayvo
