#pragma once

// What the benchmarks' tools that watch an X server share: their last word,
// replies freed with their scope, a window's title, and the DAMAGE extension
// made ready.

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <err.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

namespace xcb_support {

// "tool: message" on standard error, as err(3) writes it, and status 2.
[[noreturn]] inline void fail(const std::string& message)
{
    errx(2, "%s", message.c_str());
}

struct FreeDeleter {
    void operator()(void* pointer) const noexcept { std::free(pointer); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

inline xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::string(name).size()), name),
        nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Windows' titles as a window manager reads them: _NET_WM_NAME, else WM_NAME.
class Titles {
public:
    explicit Titles(xcb_connection_t* connection)
        : connection_(connection)
        , netWmName_(atom(connection, "_NET_WM_NAME"))
        , utf8_(atom(connection, "UTF8_STRING"))
    {
    }

    std::string of(xcb_window_t window) const
    {
        using Property = std::pair<xcb_atom_t, xcb_atom_t>;
        for (const auto& [property, type] : {Property{netWmName_, utf8_}, Property{XCB_ATOM_WM_NAME, XCB_ATOM_STRING}}) {
            const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
                connection_, xcb_get_property(connection_, 0, window, property, type, 0, 1024), nullptr));
            if (reply && xcb_get_property_value_length(reply.get()) > 0)
                return {static_cast<const char*>(xcb_get_property_value(reply.get())),
                        static_cast<std::size_t>(xcb_get_property_value_length(reply.get()))};
        }
        return {};
    }

private:
    xcb_connection_t* connection_;
    xcb_atom_t netWmName_;
    xcb_atom_t utf8_;
};

// The DAMAGE extension, its version agreed; null where the server lacks it.
inline const xcb_query_extension_reply_t* damageExtension(xcb_connection_t* connection)
{
    const xcb_query_extension_reply_t* damage = xcb_get_extension_data(connection, &xcb_damage_id);
    if (!damage || !damage->present)
        return nullptr;
    const Reply<xcb_damage_query_version_reply_t> version(xcb_damage_query_version_reply(
        connection, xcb_damage_query_version(connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
        nullptr));
    return damage;
}

} // namespace xcb_support
