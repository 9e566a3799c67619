// Program start on Linux: the kernel's drives, udev's reports of them coming
// and going, Qt's windows.

#include "drives/ctlCdrom.h"
#include "platform/linux/os_operations_linux.h"
#include "platform/linux/udev_monitor_linux.h"
#include "platform/off_thread_os_operations.h"
#include "platform/qt/runtime_qt.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Without a display Qt would abort with a message about platform plugins
// that tells a user nothing about what to do.
bool displayAvailable()
{
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") || std::getenv("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char* argv[])
{
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "trayvo2010: no display to open a window on (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Start it from a desktop session, or under a virtual X server:\n"
                     "    xvfb-run -a %s\n",
                     argv[0]);
        return EXIT_FAILURE;
    }
    QApplication application(argc, argv);
    using namespace trayvo;
    // Listening from before the drives are listed, so that none attached in
    // between goes unheard.
    const std::unique_ptr<UdevDriveMonitor> driveMonitor = UdevDriveMonitor::open();
    QtWindowRuntime runtime(appIdentity);
    if (driveMonitor)
        runtime.watchDrives(*driveMonitor);
    // The drives are asked off the window's thread: a drive that does not
    // answer must not stall the window. A call still blocked when the window
    // is closed is left to the kernel, which ends it with the process; it
    // shares the operations it uses, so nothing it touches goes before.
    OffThreadOsOperations os(runtime, std::make_shared<LinuxOsOperations>());
    ctlCdrom drives(os);
    frmMain mainWindow(runtime, drives, os);
    mainWindow.Show();
    return QApplication::exec();
}
