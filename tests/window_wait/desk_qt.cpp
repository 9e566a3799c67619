// The desk on an X server: clicks and keys through XTest (xdotool), the
// window manager's ping and close request as client messages, spoilt pixels
// drawn over the window from a connection of its own.

#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "tests/window_wait/desk.h"
#include "tests/wm_protocols.h"
#include "ui/app_identity.h"

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace trayvo::testing {
namespace {

using namespace std::chrono_literals;

// From the desk's thread: a failure is the test's, not a crash of it.
void xdotool(const QStringList& arguments)
{
    if (QProcess::execute(QStringLiteral("xdotool"), arguments) != 0)
        ADD_FAILURE() << "xdotool failed: " << arguments.join(QLatin1Char(' ')).toStdString();
}

// Spoils a corner of window where it shows only its background, asks the
// window to draw it again, and watches for the colour to come back.
bool repaints(xcb_connection_t* connection, xcb_window_t window)
{
    const xcb_rectangle_t corner{2, 2, 16, 8};
    const std::uint32_t black = 0;
    const xcb_gcontext_t gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, window, XCB_GC_FOREGROUND, &black);
    xcb_poly_fill_rectangle(connection, window, gc, 1, &corner);
    xcb_free_gc(connection, gc);
    xcb_clear_area(connection, 1, window, corner.x, corner.y, corner.width, corner.height);
    xcb_flush(connection);
    const auto until = std::chrono::steady_clock::now() + 1s;
    while (std::chrono::steady_clock::now() < until) {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            connection,
            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, corner.x + 8, corner.y + 4, 1, 1, ~0u),
            nullptr);
        std::uint32_t pixel = black;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&pixel, xcb_get_image_data(image), 4);
        std::free(image);
        if ((pixel & 0x00ffffff) != black)
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Counts the pointer's moves that reach a window.
struct MoveCounter final : QObject {
    bool eventFilter(QObject*, QEvent* event) override
    {
        taken += event->type() == QEvent::MouseMove ? 1 : 0;
        return false;
    }
    int taken = 0;
};

class QtDesk final : public Desk {
public:
    WindowRuntime& runtime() override { return runtime_; }

    void learn(Window& window) override
    {
        QWidget& widget = dynamic_cast<QtWindow&>(window).widget();
        if (!QTest::qWaitForWindowExposed(&widget))
            throw std::runtime_error("the window was never shown");
        widget.activateWindow();
        if (!QTest::qWaitForWindowActive(&widget))
            throw std::runtime_error("the window never became active");
        window_ = static_cast<xcb_window_t>(window.handle());
        widget.windowHandle()->installEventFilter(&moves_);
        for (const QWidget* child : widget.findChildren<QWidget*>()) {
            const QPoint centre = child->mapToGlobal(child->rect().center());
            centres_[child->objectName().toStdString()] = centre;
        }
    }

    void setTickInterval(Window& window, int milliseconds) override
    {
        dynamic_cast<QtWindow&>(window).widget().findChild<QTimer*>(QStringLiteral("Timer1"))->setInterval(milliseconds);
    }

    void sampleEvery10ms(std::function<void()> sample) override
    {
        QObject::connect(&sampler_, &QTimer::timeout, &sampler_, std::move(sample));
        sampler_.start(10);
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) override
    {
        return QTest::qWaitFor(done, static_cast<int>(limit.count()));
    }

    bool runUntilQuit(std::chrono::milliseconds limit) override
    {
        bool ended = true;
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, [&ended] {
            ended = false;
            QApplication::quit();
        });
        deadline.start(limit);
        QApplication::exec();
        return ended;
    }

    void click(std::string_view control) override
    {
        const QPoint at = centres_.at(std::string(control));
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(at.x()), QString::number(at.y()),
                 QStringLiteral("click"), QStringLiteral("1")});
    }

    int windowsShown() const override
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return static_cast<int>(std::count_if(windows.begin(), windows.end(), [](const QWidget* window) {
            return window->isVisible();
        }));
    }

    int pointerMovesTaken() const override { return moves_.taken; }

    void movePointer(int times) override
    {
        const QPoint at = centres_.at("Image1");
        QStringList arguments;
        for (int i = 0; i < times; ++i)
            arguments << QStringLiteral("mousemove") << QString::number(at.x() + i % 2 * 4) << QString::number(at.y());
        xdotool(arguments);
    }

    void press(Key key) override
    {
        xdotool({QStringLiteral("key"), key == Key::Down ? QStringLiteral("Down") : QStringLiteral("Escape")});
    }
    bool answersPing() override { return windowManager_.ping(window_, 1s).has_value(); }
    bool repaints() override { return testing::repaints(windowManager_.connection(), window_); }
    void close() override { windowManager_.close(window_); }

private:
    QtWindowRuntime runtime_{appIdentity};
    QTimer sampler_;
    MoveCounter moves_;
    WindowManagerConnection windowManager_;
    xcb_window_t window_ = 0;
    std::map<std::string, QPoint> centres_;
};

} // namespace

std::unique_ptr<Desk> makeDesk()
{
    return std::make_unique<QtDesk>();
}

} // namespace trayvo::testing
