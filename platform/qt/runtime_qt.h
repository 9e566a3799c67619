#pragma once

#include "platform/handler_guard.h"
#include "platform/qt/wait_qt.h"
#include "platform/window_runtime.h"

#include <QTranslator>

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

private:
    void showError(TextView message);

    AppIdentity identity_;
    HandlerGuard guard_;
    QtWait wait_{guard_};
    QTranslator qtTranslator_;
};

} // namespace trayvo
