#include "ui/main/frmMain.h"

#include "resources/texts.h"
#include "ui/about/frmAbout.h"
#include "ui/link_color.h"
#include "ui/main/frmMain_layout.h"

#include <algorithm>

namespace trayvo {
namespace {

// The hourglass for as long as an action runs, however it ends.
class BusyPointer {
public:
    explicit BusyPointer(Window& window) : window_(window) { window_.setMousePointer(MousePointer::Hourglass); }
    ~BusyPointer() { window_.setMousePointer(MousePointer::Default); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    Window& window_;
};

// The disc watch stands still while the tray moves, so that no probe holds
// the drive meanwhile; enabled again afterwards, however the action ends, it
// starts a full interval.
class PausedTimer {
public:
    explicit PausedTimer(Timer& timer) : timer_(timer) { timer_.setEnabled(false); }
    ~PausedTimer() { timer_.setEnabled(true); }
    PausedTimer(const PausedTimer&) = delete;
    PausedTimer& operator=(const PausedTimer&) = delete;

private:
    Timer& timer_;
};

} // namespace

frmMain::frmMain(WindowRuntime& runtime, ctlCdrom& drives, OsOperations& os)
    : runtime_(runtime)
    , drives_(drives)
    , os_(os)
    , window_(runtime.createWindow(frmMainLayout))
    , numofCDROM_(window_->label("numofCDROM"))
    , CDROMstatus_(window_->label("CDROMstatus"))
    , Label7_(window_->label("Label7"))
    , Combox_(window_->dropDownList("Combox"))
    , Command1_(window_->pushButton("Command1"))
    , Command2_(window_->pushButton("Command2"))
    , Command3_(window_->pushButton("Command3"))
    , Timer1_(window_->timer("Timer1"))
{
    Timer1_.onTick([this] { Timer1_Timer(); });
    window_->onDrivesChanged([this] { Drives_Changed(); });
    Label7_.onClick([this] { Label7_Click(); });
    // Help is what the About window gives, and F1 is the one way a keyboard
    // reaches it: 关于 takes no focus.
    window_->onHelpKey([this] { Label7_Click(); });
    Command1_.onClick([this] { Command1_Click(); });
    Command2_.onClick([this] { Command2_Click(); });
    Command3_.onClick([this] { Command3_Click(); });
}

void frmMain::Show()
{
    runtime_.runHandler([this] { Form_Load(); });
    window_->show();
}

void frmMain::Form_Load()
{
    window_->setCaption(runtime_.app().title);
    Label7_.setForeColor(linkColor);
    drives_.ListCdromDrives();
    FillDriveList();
    if (drives_.upperBound() < 1)
        ShowNoDrive();
    else
        WatchFirstDrive();
}

void frmMain::Timer1_Timer()
{
    const bool present = drives_.HasDisc(Combox_.selectedIndex());
    if (present == discPresent_)
        return;
    discPresent_ = present;
    ShowDiscStatus();
}

// A drive attached or removed. The system also reports drives of other kinds
// and, on Windows, a disc put in: the list is then the same, and nothing
// happens.
void frmMain::Drives_Changed()
{
    const std::vector<DriveRoot> before = drives_.cdromDrives();
    const bool hadDrives = drives_.upperBound() >= 1;
    const DriveRoot selected = Combox_.text();
    drives_.ListCdromDrives();
    if (drives_.cdromDrives() == before)
        return;
    FillDriveList();
    if (drives_.upperBound() < 1) {
        ShowNoDrive();
    } else if (!hadDrives) {
        SetDriveButtons(true);
        WatchFirstDrive();
    } else {
        KeepSelection(selected);
    }
}

void frmMain::Label7_Click()
{
    frmAbout about(runtime_, os_);
    about.Show(*window_);
}

void frmMain::Command1_Click()
{
    MoveTray(&ctlCdrom::OpenDoor);
}

void frmMain::Command2_Click()
{
    MoveTray(&ctlCdrom::CloseDoor);
}

// The watch goes on: the explorer is started, not waited for.
void frmMain::Command3_Click()
{
    const BusyPointer busy(*window_);
    drives_.ExploreDrive(Combox_.text());
}

void frmMain::MoveTray(void (ctlCdrom::*action)(std::int32_t))
{
    const BusyPointer busy(*window_);
    const PausedTimer paused(Timer1_);
    (drives_.*action)(Combox_.selectedIndex());
}

void frmMain::FillDriveList()
{
    Combox_.clear();
    // The upper bound of the drive list is the drive count, so the count
    // always matches the selector's items.
    const int count = drives_.upperBound();
    const auto& roots = drives_.cdromDrives();
    for (int i = 0; i < count; ++i)
        Combox_.addItem(roots[static_cast<std::size_t>(i)], i);
    numofCDROM_.setCaption(decimalText(count) + Text(texts::driveCountUnit));
}

void frmMain::ShowDiscStatus()
{
    CDROMstatus_.setCaption(discPresent_ ? texts::discPresent : texts::noDisc);
}

void frmMain::ShowNoDrive()
{
    SetDriveButtons(false);
    Timer1_.setEnabled(false);
    discPresent_ = false;
    CDROMstatus_.setCaption(texts::noDrive);
}

void frmMain::WatchFirstDrive()
{
    Combox_.setSelectedIndex(0);
    discPresent_ = drives_.HasDisc(Combox_.selectedIndex());
    ShowDiscStatus();
    Timer1_.setEnabled(true);
}

// The selection stays on its drive while that drive remains, wherever the
// drive now is in the list. Otherwise it moves to the first drive, whose disc
// state is shown at once where it differs from what the line says.
void frmMain::KeepSelection(const DriveRoot& root)
{
    const auto& roots = drives_.cdromDrives();
    const auto last = roots.end() - 1; // the unfilled slot
    const auto found = std::find(roots.begin(), last, root);
    if (found != last) {
        Combox_.setSelectedIndex(static_cast<int>(found - roots.begin()));
        return;
    }
    Combox_.setSelectedIndex(0);
    Timer1_Timer();
}

void frmMain::SetDriveButtons(bool enabled)
{
    Command1_.setEnabled(enabled);
    Command2_.setEnabled(enabled);
    Command3_.setEnabled(enabled);
}

} // namespace trayvo
