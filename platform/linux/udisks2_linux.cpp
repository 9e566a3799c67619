#include "platform/linux/udisks2_linux.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace trayvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* udisksService = "org.freedesktop.UDisks2";
constexpr const char* busService = "org.freedesktop.DBus";
constexpr const char* blockPathPrefix = "/org/freedesktop/UDisks2/block_devices";
constexpr const char* filesystemInterface = "org.freedesktop.UDisks2.Filesystem";
// Where the system bus is when the environment names no other.
constexpr const char* systemBusAddress = "unix:path=/run/dbus/system_bus_socket";

// Closing without flushing: every call here waits for its reply, so nothing
// is left to send, and a flush could wait on a stuck bus without limit.
struct BusCloser {
    void operator()(sd_bus* bus) const noexcept { sd_bus_close_unref(bus); }
};
using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

struct MessageUnref {
    void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// Releasing the slot of a call not yet answered forgets the call.
struct SlotUnref {
    void operator()(sd_bus_slot* slot) const noexcept { sd_bus_slot_unref(slot); }
};
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;

// UDisks2 names a block device's object by its kernel name, every byte but
// ASCII letters and digits written as _XX: sd-bus's escape, which also
// escapes a leading digit, a thing no kernel block name has.
std::string blockPath(std::string_view blockName)
{
    char* path = nullptr;
    if (sd_bus_path_encode(blockPathPrefix, std::string(blockName).c_str(), &path) < 0)
        throw std::bad_alloc();
    const std::unique_ptr<char, decltype(&std::free)> owned(path, &std::free);
    return path;
}

int keepReply(sd_bus_message* reply, void* kept, sd_bus_error*)
{
    static_cast<MessagePtr*>(kept)->reset(sd_bus_message_ref(reply));
    return 0;
}

// One operation's conversation with UDisks2: a connection of its own, and one
// deadline for connecting and for every call. sd-bus's own blocking calls
// would first wait for the bus's greeting without any limit of ours, so each
// step here is driven by hand against the time left.
class Conversation {
public:
    enum class Start { Connected, NoService, NoAnswer };

    explicit Conversation(std::chrono::milliseconds timeLimit) : deadline_(Clock::now() + timeLimit) {}

    // Connects to the system bus and learns which connection owns UDisks2's
    // name. Asking who owns a name, unlike calling it, never starts it.
    Start start()
    {
        sd_bus* raw = nullptr;
        if (sd_bus_new(&raw) < 0)
            return Start::NoService;
        bus_.reset(raw);
        const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        if (sd_bus_set_address(bus(), address ? address : systemBusAddress) < 0 || sd_bus_set_bus_client(bus(), 1) < 0)
            return Start::NoService;
        // Only where nothing listens is there no bus. One that hangs up, or
        // takes no more connections, may still have UDisks2 on it. The
        // greeting comes later.
        if (const int started = sd_bus_start(bus()); started < 0)
            return started == -ENOENT || started == -ECONNREFUSED ? Start::NoService : Start::NoAnswer;
        MessagePtr request = newCall(busService, "/org/freedesktop/DBus", busService, "GetNameOwner");
        if (!request || sd_bus_message_append(request.get(), "s", udisksService) < 0)
            return Start::NoAnswer;
        const MessagePtr reply = awaitReply(request);
        const char* owner = nullptr;
        if (reply && sd_bus_message_is_method_error(reply.get(), "org.freedesktop.DBus.Error.NameHasNoOwner"))
            return Start::NoService;
        if (!reply || sd_bus_message_read(reply.get(), "s", &owner) <= 0)
            return Start::NoAnswer;
        owner_ = owner;
        return Start::Connected;
    }

    // A call to UDisks2. It goes to the connection that owns the name, not to
    // the name: it cannot start the service, and a service started again
    // meanwhile fails it rather than take it over.
    MessagePtr newUdisksCall(const std::string& path, const char* interface, const char* member)
    {
        return newCall(owner_.c_str(), path.c_str(), interface, member);
    }

    // UDisks2's own answer to request, its reply or its error; null when
    // neither came before the deadline or the connection was lost. Errors
    // made up on the way (the bus's, sd-bus's for a timeout) are no answer.
    MessagePtr answer(const MessagePtr& request)
    {
        MessagePtr reply = awaitReply(request);
        if (!reply || sd_bus_message_is_method_error(reply.get(), nullptr) <= 0)
            return reply;
        const char* sender = sd_bus_message_get_sender(reply.get());
        return sender && owner_ == sender ? std::move(reply) : MessagePtr();
    }

private:
    sd_bus* bus() const { return bus_.get(); }

    MessagePtr newCall(const char* destination, const char* path, const char* interface, const char* member)
    {
        sd_bus_message* raw = nullptr;
        if (sd_bus_message_new_method_call(bus(), &raw, destination, path, interface, member) < 0)
            return {};
        return MessagePtr(raw);
    }

    // Whatever reply comes to request before the deadline, errors included.
    MessagePtr awaitReply(const MessagePtr& request)
    {
        MessagePtr reply;
        sd_bus_slot* raw = nullptr;
        const std::uint64_t timeout = remainingUsec();
        if (!request || timeout == 0 || sd_bus_call_async(bus(), &raw, request.get(), keepReply, &reply, timeout) < 0)
            return {};
        const SlotPtr call(raw);
        while (!reply) {
            const int processed = sd_bus_process(bus(), nullptr);
            if (processed < 0)
                return {};
            if (processed > 0)
                continue;
            const std::uint64_t left = remainingUsec();
            if (left == 0 || sd_bus_wait(bus(), left) < 0)
                return {};
        }
        return reply;
    }

    std::uint64_t remainingUsec() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - Clock::now());
        return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
    }

    Clock::time_point deadline_;
    BusPtr bus_;
    std::string owner_;
};

// Unmount and Mount, never asking the user for a password; the reply, null
// when UDisks2 refused or gave no answer.
MessagePtr filesystemCall(Conversation& udisks, const std::string& path, const char* member)
{
    MessagePtr request = udisks.newUdisksCall(path, filesystemInterface, member);
    if (!request || sd_bus_message_append(request.get(), "a{sv}", 1U, "auth.no_user_interaction", "b", 1) < 0)
        return {};
    MessagePtr reply = udisks.answer(request);
    if (!reply || sd_bus_message_is_method_error(reply.get(), nullptr) > 0)
        return {};
    return reply;
}

// How UDisks2 took a question.
enum class Asked {
    Answered,
    Refused, // an error of its own: it knows no filesystem there (an audio
             // CD, a device it does not list), or failed to look
    NoAnswer,
};

// Where UDisks2 says the filesystem is mounted, each mount point as bytes
// with a terminating NUL, into points.
Asked mountPoints(Conversation& udisks, const std::string& path, std::vector<std::string>& points)
{
    points.clear();
    MessagePtr request = udisks.newUdisksCall(path, "org.freedesktop.DBus.Properties", "Get");
    if (!request || sd_bus_message_append(request.get(), "ss", filesystemInterface, "MountPoints") < 0)
        return Asked::NoAnswer;
    const MessagePtr reply = udisks.answer(request);
    if (!reply)
        return Asked::NoAnswer;
    if (sd_bus_message_is_method_error(reply.get(), nullptr) > 0)
        return Asked::Refused;
    if (sd_bus_message_enter_container(reply.get(), 'v', "aay") <= 0
        || sd_bus_message_enter_container(reply.get(), 'a', "ay") <= 0)
        return Asked::NoAnswer;
    const void* bytes = nullptr;
    std::size_t size = 0;
    while (sd_bus_message_read_array(reply.get(), 'y', &bytes, &size) > 0) {
        const std::string_view point(static_cast<const char*>(bytes), size);
        points.emplace_back(point.substr(0, point.find('\0')));
    }
    return Asked::Answered;
}

} // namespace

Udisks2::Udisks2(std::chrono::milliseconds timeLimit)
    : timeLimit_(timeLimit)
{
}

// UDisks2 takes a filesystem off one mount point per Unmount, its own mount
// first, and answers success while the filesystem may still be mounted
// elsewhere: so Unmount is called again while mount points are left, once
// for each found at the start at most.
UnmountOutcome Udisks2::unmountFilesystems(const std::string& blockName)
{
    Conversation udisks(timeLimit_);
    switch (udisks.start()) {
    case Conversation::Start::NoService:
        return UnmountOutcome::NoService;
    case Conversation::Start::NoAnswer:
        return UnmountOutcome::NotUnmounted;
    case Conversation::Start::Connected:
        break;
    }
    const std::string path = blockPath(blockName);
    std::vector<std::string> points;
    switch (mountPoints(udisks, path, points)) {
    case Asked::Answered:
        break;
    case Asked::Refused:
        return UnmountOutcome::NotKnown;
    case Asked::NoAnswer:
        return UnmountOutcome::NotUnmounted;
    }
    for (std::size_t callsLeft = points.size(); !points.empty(); --callsLeft) {
        if (callsLeft == 0 || !filesystemCall(udisks, path, "Unmount")
            || mountPoints(udisks, path, points) != Asked::Answered)
            return UnmountOutcome::NotUnmounted;
    }
    return UnmountOutcome::Unmounted;
}

std::optional<std::string> Udisks2::mount(const std::string& blockName)
{
    Conversation udisks(timeLimit_);
    if (udisks.start() != Conversation::Start::Connected)
        return std::nullopt;
    const std::string path = blockPath(blockName);
    // The desktop may well have mounted it since the caller looked, and
    // UDisks2 refuses to mount a filesystem twice.
    std::vector<std::string> points;
    const Asked asked = mountPoints(udisks, path, points);
    if (asked == Asked::NoAnswer)
        return std::nullopt;
    if (!points.empty())
        return points.front();
    const MessagePtr reply = filesystemCall(udisks, path, "Mount");
    const char* mountPath = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "s", &mountPath) <= 0)
        return std::nullopt;
    return std::string(mountPath);
}

} // namespace trayvo
