#include "platform/linux/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace trayvo {
namespace {

TEST(NaturalOrder, ComparesDigitRunsByValue)
{
    struct Row {
        std::string_view a, b;
        bool aBeforeB, bBeforeA;
    };
    const Row rows[] = {
        {"sr2", "sr10", true, false},
        {"sda", "sdb", true, false},
        {"loop9", "loop10", true, false},
        {"nvme0n1", "nvme0n10", true, false},
        {"nvme0n10", "nvme1n1", true, false},
        {"sr", "sr0", true, false},
        {"", "a", true, false},
        {"sr0", "sr0", false, false},
        {"", "", false, false},
        {"sr9", "sra", true, false},
        {"sr007", "sr10", true, false},
        {"sr01", "sr1", true, false},
        {"sr99999999999999999999", "sr100000000000000000000", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << '"' << row.a << "\" vs \"" << row.b << '"');
        EXPECT_EQ(naturalLess(row.a, row.b), row.aBeforeB);
        EXPECT_EQ(naturalLess(row.b, row.a), row.bBeforeA);
    }
}

TEST(NaturalOrder, SortsDeviceNames)
{
    const std::vector<std::string_view> expected = {
        "loop0", "loop1", "loop9", "loop10", "nvme0n1", "nvme0n2", "nvme0n10", "nvme1n1",
        "sda", "sdb", "sr", "sr0", "sr00", "sr01", "sr1", "sr2", "sr10", "sra"};
    std::vector<std::string_view> names(expected.rbegin(), expected.rend());
    std::ranges::sort(names, naturalLess);
    EXPECT_EQ(names, expected);
}

} // namespace
} // namespace trayvo
