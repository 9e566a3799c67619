#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace trayvo {

// A colour as 0x00BBGGRR.
using Color = std::uint32_t;

constexpr Color rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return Color{red} | Color{green} << 8 | Color{blue} << 16;
}

// The program's own pictures; each toolkit adapter knows where it keeps them.
enum class Art { None, ProgramIcon, FolderPicture, HandCursor, AboutIcon, DvdPicture };

enum class ControlKind { Label, DropDownList, PushButton, Frame, Line, Image, Timer };

enum ControlFlag : unsigned {
    NoFlags = 0,
    AutoSize = 1u << 0,    // the label's box follows its text, left and top kept
    Transparent = 1u << 1, // the container shows through the label
    WordWrap = 1u << 2,    // fixed box, text wraps inside it
    Stretch = 1u << 3,     // the picture fills its control instead of keeping its size
    Link = 1u << 4,        // a label that acts as a link: assistive technology gets a link whose action is its click
};

constexpr ControlFlag operator|(ControlFlag a, ControlFlag b)
{
    return static_cast<ControlFlag>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

struct Font {
    double points = 0; // 0: the window's default font
    bool bold = false;
    bool underline = false;
};

// A box in twips, relative to the control's container. A line uses the four
// numbers as its two end points instead.
struct TwipsRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// One row of a window's stored layout.
struct ControlLayout {
    std::string_view name;
    ControlKind kind = ControlKind::Label;
    std::string_view container; // empty: the window itself
    TwipsRect rect;
    std::u16string_view text;
    Font font;
    ControlFlag flags = NoFlags;
    std::u16string_view toolTip;
    Art picture = Art::None;    // an image's picture
    Art cursor = Art::None;     // a custom mouse pointer over the control
    Color color = 0;            // a line's colour
    int lineWidthPixels = 0;
    int intervalMs = 0;         // a timer's interval
    int growRightToTwips = 0;   // a drop-down list may widen up to here for its longest item
    int growDownToTwips = 0;    // a wrapping label may deepen up to here for its last line
    std::string_view labelFor;  // the control this label names to assistive technology
    std::u16string_view accessibleName; // what assistive technology calls a control that shows no text
};

enum class StartPosition { CenterScreen, CenterOwner };

// A window's stored layout: controls listed in tab order.
struct WindowLayout {
    std::string_view name;
    std::u16string_view caption;
    int clientWidthTwips = 0;
    int clientHeightTwips = 0;
    StartPosition startPosition = StartPosition::CenterScreen;
    Art icon = Art::None;
    std::span<const ControlLayout> controls;
};

} // namespace trayvo
