#pragma once

#include "drives/ctlCdrom.h"
#include "platform/window_runtime.h"

#include <memory>

namespace trayvo {

// The main window: how many optical drives there are, which one is chosen,
// and whether a readable disc is in it, kept current once a second. The
// drives found at load are the first state; the list then follows the drives
// the system reports attached and removed.
class frmMain {
public:
    frmMain(WindowRuntime& runtime, ctlCdrom& drives, OsOperations& os);

    // Loads the window, running its load handler before first display.
    void Show();

    // Handlers, run by the runtime inside its error guard.
    void Form_Load();
    void Timer1_Timer();
    void Drives_Changed();
    void Label7_Click();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    Window& window() { return *window_; }

private:
    void FillDriveList();
    void ShowDiscStatus();
    void ShowNoDrive();
    void WatchFirstDrive();
    void KeepSelection(const DriveRoot& root);
    void SetDriveButtons(bool enabled);
    void MoveTray(void (ctlCdrom::*action)(std::int32_t));

    WindowRuntime& runtime_;
    ctlCdrom& drives_;
    OsOperations& os_;
    std::unique_ptr<Window> window_;
    Label& numofCDROM_;
    Label& CDROMstatus_;
    Label& Label7_;
    DropDownList& Combox_;
    PushButton& Command1_;
    PushButton& Command2_;
    PushButton& Command3_;
    Timer& Timer1_;
    // The disc state last written to the status line.
    bool discPresent_ = false;
};

} // namespace trayvo
