#include "platform/linux/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace trayvo {
namespace {

// Sorting checks the order is strict as well: std::sort needs it.
TEST(NaturalOrder, SortsDeviceNamesAsAPersonCountsThem)
{
    const std::vector<std::string_view> expected = {
        "", "loop9", "loop10", "nvme0n1", "nvme0n10", "nvme1n1", "sda", "sdb", "sr", "sr0", "sr00", "sr01", "sr1",
        "sr2", "sr007", "sr10", "sr99999999999999999999", "sr100000000000000000000", "sra"};
    std::vector<std::string_view> names(expected.rbegin(), expected.rend());
    std::ranges::sort(names, naturalLess);
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(naturalLess("sr0", "sr0"));
}

} // namespace
} // namespace trayvo
