#include "ui/main/frmMain_layout.h"

#include "resources/texts.h"

#include <array>

namespace trayvo {
namespace {

constexpr Font arial1125{.points = 11.25};
constexpr Font arial825{.points = 8.25};
constexpr Font arial1125Underlined{.points = 11.25, .underline = true};

using enum ControlKind;

// In tab order. Positions are twips relative to the container.
constexpr std::array controls{
    ControlLayout{.name = "Label1", .kind = Label, .rect = {360, 240, 2640, 255},
                  .text = texts::drivesFound, .font = arial1125, .flags = AutoSize | Transparent,
                  .labelFor = "numofCDROM"},
    ControlLayout{.name = "numofCDROM", .kind = Label, .rect = {2880, 240, 75, 255},
                  .text = texts::driveCountPlaceholder, .font = arial1125, .flags = AutoSize | Transparent},
    ControlLayout{.name = "Frame1", .kind = Frame, .rect = {240, 600, 4935, 2055}},
    ControlLayout{.name = "Label3", .kind = Label, .container = "Frame1", .rect = {120, 360, 1920, 255},
                  .text = texts::chooseDrive, .font = arial1125, .flags = AutoSize | Transparent,
                  .labelFor = "Combox"},
    // A Linux drive is named by its device node, longer than a drive letter:
    // the selector may widen towards the buttons to show it whole.
    ControlLayout{.name = "Combox", .kind = DropDownList, .container = "Frame1", .rect = {2160, 360, 735, 330},
                  .font = arial825, .growRightToTwips = 3420},
    ControlLayout{.name = "Label4", .kind = Label, .container = "Frame1", .rect = {120, 960, 720, 255},
                  .text = texts::statusCaption, .font = arial1125, .flags = AutoSize | Transparent,
                  .labelFor = "CDROMstatus"},
    ControlLayout{.name = "CDROMstatus", .kind = Label, .container = "Frame1", .rect = {840, 960, 2535, 735},
                  .font = arial1125, .flags = WordWrap | Transparent},
    ControlLayout{.name = "Command1", .kind = PushButton, .container = "Frame1", .rect = {3480, 360, 1095, 375},
                  .text = texts::openTray, .font = arial825},
    ControlLayout{.name = "Command2", .kind = PushButton, .container = "Frame1", .rect = {3480, 840, 1095, 375},
                  .text = texts::closeTray, .font = arial825},
    ControlLayout{.name = "Command3", .kind = PushButton, .container = "Frame1", .rect = {3480, 1320, 1095, 375},
                  .text = texts::openFolder, .font = arial825},
    ControlLayout{.name = "Line1", .kind = Line, .rect = {255, 2880, 5160, 2880},
                  .color = rgb(0, 128, 0), .lineWidthPixels = 2},
    ControlLayout{.name = "Image1", .kind = Image, .rect = {360, 2985, 375, 375},
                  .flags = Stretch, .picture = Art::FolderPicture, .accessibleName = texts::folderPictureName},
    ControlLayout{.name = "Label6", .kind = Label, .rect = {840, 3030, 2580, 255},
                  .text = texts::makerSignature, .font = arial1125, .flags = AutoSize | Transparent},
    ControlLayout{.name = "Label7", .kind = Label, .rect = {4440, 3030, 480, 255},
                  .text = texts::aboutLink, .font = arial1125Underlined, .flags = AutoSize | Transparent | Link,
                  .toolTip = texts::aboutLinkToolTip, .cursor = Art::HandCursor},
    ControlLayout{.name = "Timer1", .kind = Timer, .intervalMs = 1000},
};

} // namespace

const WindowLayout frmMainLayout{
    .name = "frmMain",
    .clientWidthTwips = 5445,
    .clientHeightTwips = 3435,
    .startPosition = StartPosition::CenterScreen,
    .icon = Art::ProgramIcon,
    .controls = controls,
};

} // namespace trayvo
