#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sd_bus;

namespace trayvo {

// How UDisks2 names a block device in its object paths: every byte outside
// [A-Za-z0-9] becomes '_' and two lowercase hex digits ("sr0" stays "sr0").
std::string udisks2PathElement(std::string_view name);

// UDisks2 on the system bus, reached only inside an action: connecting is
// cheap, and holding nothing between actions means a service restarted in
// the meantime is simply found again.
//
// Every call is bounded by a timeout, so a hung service costs the window a
// few seconds, never more. Nothing here ever asks for a password: the calls
// block the window, and a prompt could not be answered within their timeout.
class Udisks2 {
public:
    // The system bus connection when UDisks2 runs on it; nullopt when there is
    // no bus or nobody owns UDisks2's name. Never starts the service by bus
    // activation: where it does not run, the user has chosen to go without it.
    static std::optional<Udisks2> connect();

    // Unmounts the filesystem of the block device named blockName (the
    // kernel's name, e.g. "sr0") from every place it is mounted. True when
    // nothing of it is mounted any more, also when nothing was; false when
    // UDisks2 refused, found it busy or did not answer in time. A device
    // UDisks2 cannot tell anything about counts as not mounted: the kernel
    // still refuses to eject a disc that is.
    bool unmountFilesystems(const std::string& blockName);

    // Where the block device's filesystem is mounted: where it already is, or
    // else where UDisks2 chose to mount it now. Nullopt when it could not be
    // mounted (no filesystem, refused, no answer in time).
    std::optional<std::string> mount(const std::string& blockName);

private:
    struct BusCloser {
        void operator()(sd_bus* bus) const noexcept;
    };
    using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

    explicit Udisks2(BusPtr bus) noexcept;

    BusPtr bus_;
};

} // namespace trayvo
