// The program's windows on Qt over one drive the test works from standard
// input: /dev/sr0, holding a disc until the line "take-out" comes.

#include "platform/qt/runtime_qt.h"
#include "tests/fakes/fake_os_operations.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain.h"

#include <QApplication>
#include <QSocketNotifier>

#include <iostream>
#include <string>

#include <unistd.h>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    using namespace trayvo;
    testing::FakeOsOperations os;
    const DriveRoot drive(u"/dev/sr0");
    os.candidates = {drive};
    os.types[drive] = DriveType::Cdrom;
    os.discs = {drive};
    QtWindowRuntime runtime(appIdentity);
    ctlCdrom drives(os);
    frmMain mainWindow(runtime, drives, os);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line))
            input.setEnabled(false);
        else if (line == "take-out")
            os.discs.clear();
    });
    mainWindow.Show();
    return QApplication::exec();
}
