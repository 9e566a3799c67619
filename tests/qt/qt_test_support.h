#pragma once

#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "tests/fakes/fake_os_operations.h"
#include "ui/app_identity.h"
#include "ui/main/frmMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QWidget>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace trayvo::testing {

inline QtWindow& asQt(Window& window)
{
    return dynamic_cast<QtWindow&>(window);
}

template <typename Widget>
Widget* child(Window& window, const char* name)
{
    return asQt(window).widget().findChild<Widget*>(QString::fromLatin1(name));
}

// Reports of drives through a pipe, as udev's come through its socket: 'd'
// tells of a drive attached or removed, anything else of some other device.
class PipeDriveEvents final : public DriveEventSource {
public:
    PipeDriveEvents()
    {
        if (::pipe2(fds_, O_NONBLOCK | O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe");
    }
    ~PipeDriveEvents() override
    {
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    PipeDriveEvents(const PipeDriveEvents&) = delete;
    PipeDriveEvents& operator=(const PipeDriveEvents&) = delete;

    int descriptor() const override { return fds_[0]; }
    bool drain() override
    {
        ++drains;
        bool drive = false;
        char report = 0;
        while (::read(fds_[0], &report, 1) == 1)
            drive = drive || report == 'd';
        return drive;
    }
    void report(const char* reports) const
    {
        const auto length = static_cast<std::size_t>(std::char_traits<char>::length(reports));
        if (::write(fds_[1], reports, length) != static_cast<ssize_t>(length))
            throw std::runtime_error("pipe full");
    }

    int drains = 0;

private:
    int fds_[2] = {-1, -1};
};

// The main window on Qt, shown, over drives named as Linux names them; the
// first holds a disc.
struct QtMainWindow {
    explicit QtMainWindow(std::initializer_list<std::u16string_view> nodes)
    {
        for (auto node : nodes) {
            os.candidates.emplace_back(node);
            os.types[DriveRoot(node)] = DriveType::Cdrom;
        }
        os.discs = {u"/dev/sr0"};
        runtime.watchDrives(driveEvents);
        form.Show();
    }

    QWidget& widget() { return asQt(form.window()).widget(); }
    template <typename Widget>
    Widget* find(const char* name) { return child<Widget>(form.window(), name); }

    FakeOsOperations os;
    PipeDriveEvents driveEvents;
    QtWindowRuntime runtime{appIdentity};
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
};

// Every text of the window must be readable inside its box: an auto-sized
// label inside its container, a wrapping one holding all its lines.
inline void expectTextsFit(const QWidget& window)
{
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (!label->pixmap().isNull())
            continue;
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry()));
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        } else {
            EXPECT_GE(label->width(), label->sizeHint().width());
            EXPECT_GE(label->height(), label->sizeHint().height());
        }
    }
}

// Keeps a picture of the window where the test run was told to, for the
// README and for anyone checking a run by eye.
inline void saveScreenshot(QWidget& window, const char* name)
{
    const QString dir = qEnvironmentVariable("TRAYVO_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    window.grab().save(dir + QLatin1Char('/') + QLatin1String(name));
}

} // namespace trayvo::testing
