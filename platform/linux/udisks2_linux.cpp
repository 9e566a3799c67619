#include "platform/linux/udisks2_linux.h"

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace trayvo {

namespace {

constexpr const char* udisksService = "org.freedesktop.UDisks2";
constexpr std::string_view blockPathPrefix = "/org/freedesktop/UDisks2/block_devices/";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";

// Answering a question is instant for a healthy service.
constexpr std::uint64_t queryTimeoutUsec = 5'000'000;
// Mounting or unmounting may first have to wait for the drive to spin the
// disc up or to write back what is cached.
constexpr std::uint64_t actionTimeoutUsec = 10'000'000;

struct MessageUnref {
    void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

bool isAsciiAlnum(unsigned char byte)
{
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

std::string blockPath(std::string_view blockName)
{
    return std::string(blockPathPrefix) + udisks2PathElement(blockName);
}

MessagePtr newCall(sd_bus* bus, const char* destination, const std::string& path,
                   const char* interface, const char* member)
{
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(bus, &raw, destination, path.c_str(), interface, member) < 0)
        return {};
    MessagePtr message(raw);
    // Were the service to go away between our look and our call, the call
    // must fail rather than start it again.
    if (sd_bus_message_set_auto_start(message.get(), 0) < 0)
        return {};
    return message;
}

// The reply, or null for an error reply, a timeout or a lost connection:
// none of them leaves anything for us to do.
MessagePtr call(sd_bus* bus, const MessagePtr& request, std::uint64_t timeoutUsec)
{
    sd_bus_message* raw = nullptr;
    if (!request || sd_bus_call(bus, request.get(), timeoutUsec, nullptr, &raw) < 0)
        return {};
    return MessagePtr(raw);
}

MessagePtr filesystemCall(sd_bus* bus, const std::string& path, const char* member)
{
    MessagePtr request = newCall(bus, udisksService, path, filesystemInterface, member);
    if (!request || sd_bus_message_append(request.get(), "a{sv}", 1U, "auth.no_user_interaction", "b", 1) < 0)
        return {};
    return call(bus, request, actionTimeoutUsec);
}

bool serviceRuns(sd_bus* bus)
{
    // Asking whether the name has an owner, unlike calling the service, never
    // makes the bus start it.
    const std::string busPath = "/org/freedesktop/DBus";
    const MessagePtr request = newCall(bus, "org.freedesktop.DBus", busPath, "org.freedesktop.DBus", "NameHasOwner");
    if (!request || sd_bus_message_append(request.get(), "s", udisksService) < 0)
        return false;
    const MessagePtr reply = call(bus, request, queryTimeoutUsec);
    int owned = 0;
    return reply && sd_bus_message_read(reply.get(), "b", &owned) > 0 && owned != 0;
}

// Each mount point comes as bytes with a terminating NUL. An object without
// a filesystem has no such property, and so nothing mounted.
std::vector<std::string> mountPoints(sd_bus* bus, const std::string& path)
{
    const MessagePtr request = newCall(bus, udisksService, path, "org.freedesktop.DBus.Properties", "Get");
    if (!request || sd_bus_message_append(request.get(), "ss", filesystemInterface, "MountPoints") < 0)
        return {};
    const MessagePtr reply = call(bus, request, queryTimeoutUsec);
    if (!reply || sd_bus_message_enter_container(reply.get(), 'v', "aay") <= 0
        || sd_bus_message_enter_container(reply.get(), 'a', "ay") <= 0)
        return {};
    std::vector<std::string> points;
    const void* bytes = nullptr;
    std::size_t size = 0;
    while (sd_bus_message_read_array(reply.get(), 'y', &bytes, &size) > 0) {
        const std::string_view point(static_cast<const char*>(bytes), size);
        points.emplace_back(point.substr(0, point.find('\0')));
    }
    return points;
}

} // namespace

std::string udisks2PathElement(std::string_view name)
{
    constexpr std::string_view hexDigits = "0123456789abcdef";
    std::string element;
    element.reserve(name.size());
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (isAsciiAlnum(byte)) {
            element += c;
        } else {
            element += '_';
            element += hexDigits[byte / 16U];
            element += hexDigits[byte % 16U];
        }
    }
    return element;
}

// Closing without flushing: every call here waits for its reply, so nothing
// is left to send, and a flush could wait on a stuck bus without limit.
void Udisks2::BusCloser::operator()(sd_bus* bus) const noexcept
{
    sd_bus_close_unref(bus);
}

Udisks2::Udisks2(BusPtr bus) noexcept
    : bus_(std::move(bus))
{
}

std::unique_ptr<MountService> Udisks2::connect()
{
    sd_bus* raw = nullptr;
    if (sd_bus_open_system(&raw) < 0)
        return nullptr;
    BusPtr bus(raw);
    if (!serviceRuns(bus.get()))
        return nullptr;
    return std::unique_ptr<MountService>(new Udisks2(std::move(bus)));
}

// One Unmount covers all of a filesystem's mount points.
bool Udisks2::unmountFilesystems(const std::string& blockName)
{
    const std::string path = blockPath(blockName);
    return mountPoints(bus_.get(), path).empty() || filesystemCall(bus_.get(), path, "Unmount") != nullptr;
}

std::optional<std::string> Udisks2::mount(const std::string& blockName)
{
    const std::string path = blockPath(blockName);
    // The desktop may well have mounted it since the caller looked, and
    // UDisks2 refuses to mount a filesystem twice.
    if (const std::vector<std::string> points = mountPoints(bus_.get(), path); !points.empty())
        return points.front();
    const MessagePtr reply = filesystemCall(bus_.get(), path, "Mount");
    const char* mountPath = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "s", &mountPath) <= 0)
        return std::nullopt;
    return std::string(mountPath);
}

} // namespace trayvo
