#include "platform/qt/wait_qt.h"

#include "platform/linux/unique_fd_linux.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <QWindow>

#include <sys/eventfd.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace trayvo {

// The worker's wake-up for the window's thread: an eventfd, watched by the
// window's event loop.
class EventFdWake final : public WakeSignal {
public:
    EventFdWake()
        : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (!fd_)
            throw std::runtime_error("eventfd failed");
    }

    int fd() const { return fd_.get(); }

    void raise() override
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(fd_.get(), &one, sizeof one);
    }

    void clear() const
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(fd_.get(), &count, sizeof count);
    }

private:
    UniqueFd fd_;
};

namespace {

// A copy of an input event to deliver later. Pointer events are built anew:
// a copy would share its points with Qt's record of the device, which later
// input moves on.
std::shared_ptr<QEvent> copyOf(const QEvent& event)
{
    switch (event.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
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
// system delivers to a window goes to the guard instead, which delivers it
// once the waiting handler has ended.
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
        guard_.defer([window = QPointer<QObject>(receiver), copy = copyOf(*event)] {
            if (window)
                QCoreApplication::sendEvent(window, copy.get());
        });
        return true;
    }

private:
    HandlerGuard& guard_;
};

} // namespace

QtWait::QtWait(HandlerGuard& guard)
    : QtWait(guard, std::make_shared<EventFdWake>())
{
}

QtWait::QtWait(HandlerGuard& guard, const std::shared_ptr<EventFdWake>& wake)
    : WindowWait(guard, wake)
    , wake_(wake)
    , wakeNotifier_(wake_->fd(), QSocketNotifier::Read)
{
    // Read on every wake, also one that comes after its wait was given up:
    // an eventfd left readable would wake the loop without end.
    QObject::connect(&wakeNotifier_, &QSocketNotifier::activated, &wakeNotifier_, [wake = wake_] { wake->clear(); });
}

QtWait::~QtWait() = default;

bool QtWait::showsAWindow() const
{
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [](const QWindow* window) { return window->isVisible(); });
}

// The loop ends when the worker wakes it, or when the application quits,
// which ends every loop.
bool QtWait::runUntilEnded()
{
    const HeldInput held(guard());
    QEventLoop loop;
    QObject::connect(&wakeNotifier_, &QSocketNotifier::activated, &loop, [&] {
        if (worker().ended())
            loop.quit();
    });
    loop.exec();
    return worker().ended();
}

} // namespace trayvo
