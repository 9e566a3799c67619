#include "platform/layout_rules.h"

#include <algorithm>
#include <cmath>

namespace trayvo {

namespace {

constexpr double twipsPerPixelAt96Dpi = 15.0;

} // namespace

int PixelScale::pixels(int twips) const
{
    return scaled(twips / twipsPerPixelAt96Dpi);
}

PixelRect PixelScale::pixels(const TwipsRect& rect) const
{
    return {pixels(rect.left), pixels(rect.top), pixels(rect.width), pixels(rect.height)};
}

int PixelScale::scaled(double pixelsAt96Dpi) const
{
    return static_cast<int>(std::lround(pixelsAt96Dpi * scale_));
}

int LabelFit::height(int top, int needed) const
{
    const int room = std::max(storedHeight, growDownTo - top);
    return std::clamp(needed, storedHeight, room);
}

int dropDownWidth(int current, int left, int wanted, int growRightTo)
{
    return std::max(current, std::min(wanted, growRightTo - left));
}

} // namespace trayvo
