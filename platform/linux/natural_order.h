#pragma once

#include <string_view>

namespace trayvo {

// Orders device names the way a person counts them: runs of digits compare by
// their value, so "sr2" comes before "sr10" and "nvme0n1" before "nvme0n10".
// Names that differ only in leading zeros ("sr01", "sr1") fall back to plain
// byte order, which keeps the ordering strict and usable with std::sort.
bool naturalLess(std::string_view a, std::string_view b);

} // namespace trayvo
