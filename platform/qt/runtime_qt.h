#pragma once

#include "platform/drive_events.h"
#include "platform/handler_guard.h"
#include "platform/qt/wait_qt.h"
#include "platform/window_runtime.h"

#include <QSocketNotifier>
#include <QTranslator>

#include <memory>

namespace trayvo {

// The window runtime on Qt Widgets. Needs a QApplication, made before it;
// sets the application-wide font and Qt's own Chinese texts before any
// window exists.
class QtWindowRuntime final : public WindowRuntime {
public:
    explicit QtWindowRuntime(const AppIdentity& identity);
    ~QtWindowRuntime() override;

    const AppIdentity& app() const override { return identity_; }
    std::unique_ptr<Window> createWindow(const WindowLayout& layout) override;
    void runHandler(const Handler& handler) override;
    void waitFor(BlockingCall call) override;

    // Waits on source's descriptor in the event loop, and hands each report
    // of drives attached or removed to every window's handler for it.
    // source must outlive the runtime.
    void watchDrives(DriveEventSource& source);

private:
    void showError(TextView message);
    void readDriveEvents(DriveEventSource& source);

    AppIdentity identity_;
    HandlerGuard guard_;
    QtWait wait_{guard_};
    QTranslator qtTranslator_;
    std::unique_ptr<QSocketNotifier> driveEvents_;
};

} // namespace trayvo
