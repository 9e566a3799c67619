#include "platform/layout_rules.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

// The windows' own checks run at 96 dpi only: a denser screen is seen here.
TEST(LayoutRules, TwipsBecomeRoundedPixelsAtTheScreensDensity)
{
    EXPECT_EQ(PixelScale(96).pixels(8), 1);
    EXPECT_EQ(PixelScale(120).pixels(1095), 91);
    EXPECT_EQ(PixelScale(144).scaled(61), 92);
}

} // namespace
} // namespace trayvo
