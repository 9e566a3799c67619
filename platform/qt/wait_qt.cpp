#include "platform/qt/wait_qt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <memory>

namespace trayvo {
namespace {

// A copy of an input event to deliver later. Pointer events are built anew:
// a copy would share its points with Qt's record of the device, which later
// input moves on.
std::shared_ptr<QEvent> copyOf(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: {
        const auto& mouse = static_cast<const QMouseEvent&>(event);
        auto copy = std::make_shared<QMouseEvent>(mouse.type(), mouse.position(), mouse.scenePosition(),
                                                  mouse.globalPosition(), mouse.button(), mouse.buttons(),
                                                  mouse.modifiers(), mouse.pointingDevice());
        copy->setTimestamp(mouse.timestamp());
        return copy;
    }
    case QEvent::Wheel: {
        const auto& wheel = static_cast<const QWheelEvent&>(event);
        return std::make_shared<QWheelEvent>(wheel.position(), wheel.globalPosition(), wheel.pixelDelta(),
                                             wheel.angleDelta(), wheel.buttons(), wheel.modifiers(), wheel.phase(),
                                             wheel.inverted(), wheel.source(), wheel.pointingDevice());
    }
    case QEvent::Enter: {
        const auto& enter = static_cast<const QEnterEvent&>(event);
        return std::make_shared<QEnterEvent>(enter.position(), enter.scenePosition(), enter.globalPosition(),
                                             enter.pointingDevice());
    }
    default:
        return std::shared_ptr<QEvent>(event.clone());
    }
}

// Installed on the application for the length of a wait: input the window
// system delivers to a window goes to the guard, which holds it until the
// waiting handler has ended. The pointer's moves are dropped: out of date by
// then, and they come by the thousand while a hung drive keeps the wait
// going. So is what comes past a full queue, as behind a busy window.
class HeldInput final : public QObject {
public:
    explicit HeldInput(HandlerGuard& guard)
        : guard_(guard)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~HeldInput() override { QCoreApplication::instance()->removeEventFilter(this); }
    HeldInput(const HeldInput&) = delete;
    HeldInput& operator=(const HeldInput&) = delete;

protected:
    bool eventFilter(QObject* receiver, QEvent* event) override
    {
        const bool input = event->isInputEvent() || event->type() == QEvent::Leave;
        if (!input || !event->spontaneous() || !receiver->isWindowType())
            return false;
        if (event->type() != QEvent::MouseMove && held_++ < queueSize) {
            guard_.run([window = QPointer<QObject>(receiver), copy = copyOf(*event)] {
                if (window)
                    QCoreApplication::sendEvent(window, copy.get());
            });
        }
        return true;
    }

private:
    static constexpr int queueSize = 200;

    HandlerGuard& guard_;
    int held_ = 0;
};

} // namespace

bool QtWait::showsAWindow() const
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [](const QWindow* window) { return window->isVisible(); });
}

// The loop ends when the call's thread asks it to, or when the application
// quits, which ends every loop. The request is queued to the loop itself:
// Qt drops it with the loop, should it come after the wait.
bool QtWait::runUntilEnded()
{
    const HeldInput held(guard());
    QEventLoop loop;
    if (wakeWith([&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); }))
        loop.exec();
    wakeWith(nullptr);
    return callEnded();
}

} // namespace trayvo
