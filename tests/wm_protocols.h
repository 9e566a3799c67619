#pragma once

// What a window manager says to a window under X, for the tests that play
// one: the ping ("are you alive?", _NET_WM_PING) and the close request
// (WM_DELETE_WINDOW), both client messages of the WM_PROTOCOLS kind.

#include <xcb/xcb.h>

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>

namespace trayvo::testing {

class WindowManagerConnection {
public:
    // On the display in DISPLAY; listens for the answers that windows send
    // to the root window.
    WindowManagerConnection()
        : connection_(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(connection_))
            throw std::runtime_error("no X server");
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        protocols_ = atom("WM_PROTOCOLS");
        ping_ = atom("_NET_WM_PING");
        deleteWindow_ = atom("WM_DELETE_WINDOW");
        // A window answers a ping at the root window, for the window manager,
        // which takes it there as the client redirecting the root's children;
        // an ordinary client sees it as a structure event.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~WindowManagerConnection() { xcb_disconnect(connection_); }
    WindowManagerConnection(const WindowManagerConnection&) = delete;
    WindowManagerConnection& operator=(const WindowManagerConnection&) = delete;

    xcb_connection_t* connection() const { return connection_; }

    // How long window took to answer a ping; nullopt when it did not within
    // limit.
    std::optional<std::chrono::microseconds> ping(xcb_window_t window, std::chrono::milliseconds limit)
    {
        const std::uint32_t stamp = ++stamp_;
        const auto sent = std::chrono::steady_clock::now();
        send(window, ping_, stamp);
        const auto until = sent + limit;
        for (auto now = sent; now < until; now = std::chrono::steady_clock::now()) {
            pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
            ::poll(&fd, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                const bool answer = isPong(*event, stamp);
                std::free(event);
                if (answer)
                    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now()
                                                                                 - sent);
            }
        }
        return std::nullopt;
    }

    // Asks window to close, as its title bar's close button does.
    void close(xcb_window_t window) { send(window, deleteWindow_, XCB_CURRENT_TIME); }

private:
    xcb_atom_t atom(const char* name)
    {
        const auto length = static_cast<std::uint16_t>(std::strlen(name));
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, length, name), nullptr);
        const xcb_atom_t found = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return found;
    }

    void send(xcb_window_t window, xcb_atom_t protocol, std::uint32_t stamp)
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

    bool isPong(const xcb_generic_event_t& event, std::uint32_t stamp) const
    {
        if ((event.response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        return message.window == root_ && message.data.data32[0] == ping_ && message.data.data32[1] == stamp;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    xcb_atom_t protocols_ = 0;
    xcb_atom_t ping_ = 0;
    xcb_atom_t deleteWindow_ = 0;
    std::uint32_t stamp_ = 0;
};

} // namespace trayvo::testing
