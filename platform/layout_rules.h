#pragma once

#include "platform/window_layout.h"

#include <map>
#include <stdexcept>
#include <string>

namespace trayvo {

// A box in pixels.
struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The stored layouts' twips as pixels on a screen of the given dots per
// inch: 15 twips to the pixel at 96 dpi, more pixels on a denser screen.
class PixelScale {
public:
    explicit PixelScale(double dotsPerInch) : scale_(dotsPerInch / 96.0) {}
    int pixels(int twips) const;
    PixelRect pixels(const TwipsRect& rect) const;
    // A size in pixels at 96 dpi, such as a picture's, on this screen.
    int scaled(double pixelsAt96Dpi) const;

private:
    double scale_;
};

// What a control is placed in: the container its layout row names, or the
// window itself when it names none. A container must come before its
// controls in the layout; the other way round is a fault in the program.
template <typename Container>
Container containerOf(const std::map<std::string, Container, std::less<>>& containers, const ControlLayout& control,
                      Container window)
{
    if (control.container.empty())
        return window;
    const auto found = containers.find(control.container);
    if (found == containers.end())
        throw std::logic_error("container must come before its controls: " + std::string(control.container));
    return found->second;
}

// How a label's box follows its caption: an auto-sized label takes its
// text's size with its corner kept; any other keeps its width and its stored
// height, deepening down to growDownTo (0: not at all) for wrapped lines
// that need it.
struct LabelFit {
    bool autoSize = false;
    int storedHeight = 0;
    int growDownTo = 0;

    // The height of a fixed-width label at top whose text needs `needed`.
    int height(int top, int needed) const;
};

// The width of a drop-down list at left whose longest item needs `wanted`:
// widened for it up to growRightTo (0: not at all), never narrowed.
int dropDownWidth(int current, int left, int wanted, int growRightTo);

} // namespace trayvo
