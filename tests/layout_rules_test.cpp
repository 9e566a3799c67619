#include "platform/layout_rules.h"

#include <gtest/gtest.h>

#include <array>

namespace trayvo {
namespace {

TEST(LayoutRules, TwipsBecomePixelsAtTheScreensDensity)
{
    EXPECT_EQ(PixelScale(96).pixels(1095), 73);
    EXPECT_EQ(PixelScale(96).pixels(8), 1);
    EXPECT_EQ(PixelScale(120).pixels(1095), 91);
    EXPECT_EQ(PixelScale(144).scaled(61), 92);
    const PixelRect box = PixelScale(120).pixels(TwipsRect{150, 600, 450, 330});
    EXPECT_EQ((std::array{box.left, box.top, box.width, box.height}), (std::array{13, 50, 38, 28}));
}

TEST(LayoutRules, AControlIsPlacedInItsContainerWhichMustComeFirst)
{
    const std::map<std::string, int, std::less<>> containers{{"Frame1", 7}};
    EXPECT_EQ(containerOf(containers, ControlLayout{.name = "Label1"}, 0), 0);
    EXPECT_EQ(containerOf(containers, ControlLayout{.name = "Label3", .container = "Frame1"}, 0), 7);
    EXPECT_THROW(containerOf(containers, ControlLayout{.name = "Label3", .container = "Frame2"}, 0), std::logic_error);
}

TEST(LayoutRules, LabelsDeepenAndListsWidenOnlyUpToTheirLimits)
{
    EXPECT_EQ(LabelFit{.storedHeight = 49}.height(20, 80), 49);
    const LabelFit growing{.storedHeight = 49, .growDownTo = 120};
    EXPECT_EQ(growing.height(20, 80), 80);
    EXPECT_EQ(growing.height(20, 150), 100);
    EXPECT_EQ(growing.height(20, 10), 49);

    EXPECT_EQ(dropDownWidth(49, 10, 80, 100), 80);
    EXPECT_EQ(dropDownWidth(49, 10, 200, 100), 90);
    EXPECT_EQ(dropDownWidth(49, 10, 30, 100), 49);
    EXPECT_EQ(dropDownWidth(49, 10, 80, 0), 49);
}

} // namespace
} // namespace trayvo
