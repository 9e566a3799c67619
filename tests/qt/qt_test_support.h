#pragma once

#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "ui/app_identity.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QWidget>

namespace trayvo::testing {

inline AppIdentity testIdentity()
{
    return appIdentity;
}

inline QtWindow& asQt(Window& window)
{
    return dynamic_cast<QtWindow&>(window);
}

template <typename Widget>
Widget* child(Window& window, const char* name)
{
    return asQt(window).widget().findChild<Widget*>(QString::fromLatin1(name));
}

// Runs the event loop until done() holds; false if it never does. For events
// that come when they come, not for measuring time.
template <typename Predicate>
bool processEventsUntil(Predicate done, int limitMs = 5000)
{
    QDeadlineTimer deadline(limitMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
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
