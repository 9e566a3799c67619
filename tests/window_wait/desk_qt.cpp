// The desk on an X server: clicks and keys through XTest (xdotool), the
// window manager's ping and close request as client messages, spoilt pixels
// drawn over the window from a connection of its own.

#include "platform/qt/runtime_qt.h"
#include "platform/qt/window_qt.h"
#include "tests/window_wait/desk.h"
#include "ui/app_identity.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <xcb/xcb.h>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace trayvo::testing {
namespace {

using namespace std::chrono_literals;

void runTool(std::vector<std::string> argv)
{
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed");
}

// The desk's own connection to the X server, used from its thread only.
class XConnection {
public:
    XConnection()
        : connection_(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(connection_))
            throw std::runtime_error("no X server");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        protocols_ = atom("WM_PROTOCOLS");
        ping_ = atom("_NET_WM_PING");
        deleteWindow_ = atom("WM_DELETE_WINDOW");
        // Answers to pings go to the root window, for the window manager,
        // which takes them as the redirecting client; the desk listens as an
        // ordinary one.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~XConnection() { xcb_disconnect(connection_); }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    void sendProtocol(xcb_window_t window, xcb_atom_t protocol, std::uint32_t stamp)
    {
        xcb_client_message_event_t message{};
        message.response_type = XCB_CLIENT_MESSAGE;
        message.format = 32;
        message.window = window;
        message.type = protocols_;
        message.data.data32[0] = protocol;
        message.data.data32[1] = stamp;
        message.data.data32[2] = window;
        xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
        xcb_flush(connection_);
    }

    bool answersPing(xcb_window_t window)
    {
        const std::uint32_t stamp = ++stamp_;
        sendProtocol(window, ping_, stamp);
        const auto until = std::chrono::steady_clock::now() + 1s;
        while (std::chrono::steady_clock::now() < until) {
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&fd, 1, 10);
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const auto* reply = reinterpret_cast<const xcb_client_message_event_t*>(event);
                const bool pong = (event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && reply->window == root_
                                  && reply->data.data32[0] == ping_ && reply->data.data32[1] == stamp;
                std::free(event);
                if (pong)
                    return true;
            }
        }
        return false;
    }

    void close(xcb_window_t window) { sendProtocol(window, deleteWindow_, XCB_CURRENT_TIME); }

    // Blackens a corner of the window where it shows only its background,
    // asks the window to draw it again, and watches for the colour to come
    // back.
    bool repaints(xcb_window_t window)
    {
        const xcb_rectangle_t corner{2, 2, 16, 8};
        const std::uint32_t black = 0;
        const xcb_gcontext_t gc = xcb_generate_id(connection_);
        xcb_create_gc(connection_, gc, window, XCB_GC_FOREGROUND, &black);
        xcb_poly_fill_rectangle(connection_, window, gc, 1, &corner);
        xcb_free_gc(connection_, gc);
        xcb_clear_area(connection_, 1, window, corner.x, corner.y, corner.width, corner.height);
        xcb_flush(connection_);
        const auto until = std::chrono::steady_clock::now() + 1s;
        while (std::chrono::steady_clock::now() < until) {
            if (pixel(window, corner.x + 8, corner.y + 4) != black)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

private:
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    }

    std::uint32_t pixel(xcb_window_t window, std::int16_t x, std::int16_t y)
    {
        xcb_get_image_reply_t* image = xcb_get_image_reply(
            connection_, xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, x, y, 1, 1, 0x00ffffff),
            nullptr);
        std::uint32_t value = 0;
        if (image && xcb_get_image_data_length(image) >= 4)
            std::memcpy(&value, xcb_get_image_data(image), 4);
        std::free(image);
        return value & 0x00ffffff;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t protocols_ = 0;
    xcb_atom_t ping_ = 0;
    xcb_atom_t deleteWindow_ = 0;
    std::uint32_t stamp_ = 0;
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
        runTool({"xdotool", "mousemove", "--sync", std::to_string(at.x()), std::to_string(at.y()), "click", "1"});
    }

    void pressDown() override { runTool({"xdotool", "key", "Down"}); }
    bool answersPing() override { return x_.answersPing(window_); }
    bool repaints() override { return x_.repaints(window_); }
    void close() override { x_.close(window_); }

private:
    QtWindowRuntime runtime_{appIdentity};
    QTimer sampler_;
    XConnection x_;
    xcb_window_t window_ = 0;
    std::map<std::string, QPoint> centres_;
};

} // namespace

std::unique_ptr<Desk> makeDesk()
{
    return std::make_unique<QtDesk>();
}

} // namespace trayvo::testing
