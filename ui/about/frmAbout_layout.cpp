#include "ui/about/frmAbout_layout.h"

#include "resources/texts.h"

#include <array>

namespace trayvo {
namespace {

constexpr Font arial1125{.points = 11.25};
constexpr Font arial1575Bold{.points = 15.75, .bold = true};

using enum ControlKind;

// In tab order; the picture takes no part in it.
constexpr std::array controls{
    ControlLayout{.name = "Command1", .kind = PushButton, .rect = {3870, 2300, 1095, 375},
                  .text = texts::closeAbout},
    ControlLayout{.name = "Label1", .kind = Label, .rect = {1800, 120, 180, 360},
                  .text = texts::aboutPlaceholder, .font = arial1575Bold, .flags = AutoSize | Transparent},
    ControlLayout{.name = "Label2", .kind = Label, .rect = {1800, 600, 120, 255},
                  .text = texts::aboutPlaceholder, .font = arial1125, .flags = AutoSize | Transparent},
    // The note wraps to three lines; where the Chinese font's lines are taller
    // than the box allows, it may deepen down to the link below it.
    ControlLayout{.name = "Label3", .kind = Label, .rect = {360, 1080, 4320, 735},
                  .text = texts::aboutNotePlaceholder, .font = arial1125, .flags = WordWrap | Transparent,
                  .growDownToTwips = 1920},
    ControlLayout{.name = "Label4", .kind = Label, .rect = {360, 1920, 3750, 255},
                  .text = texts::siteLink, .font = arial1125, .flags = AutoSize | Transparent | Link,
                  .toolTip = texts::siteLinkToolTip, .cursor = Art::HandCursor},
    ControlLayout{.name = "Image1", .kind = Image, .rect = {120, 120, 1425, 915}, .picture = Art::DvdPicture,
                  .accessibleName = texts::dvdPictureName},
};

} // namespace

const WindowLayout frmAboutLayout{
    .name = "frmAbout",
    .caption = texts::aboutCaption,
    .clientWidthTwips = 5100,
    .clientHeightTwips = 2820,
    .startPosition = StartPosition::CenterOwner,
    .icon = Art::AboutIcon,
    .controls = controls,
};

} // namespace trayvo
