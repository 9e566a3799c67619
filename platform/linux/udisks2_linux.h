#pragma once

#include "platform/linux/mount_service_linux.h"

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
// A device UDisks2 cannot tell anything about counts as not mounted: the
// kernel still refuses to eject a disc that is.
class Udisks2 final : public MountService {
public:
    // The system bus connection when UDisks2 runs on it; null when there is
    // no bus or nobody owns UDisks2's name. Never starts the service by bus
    // activation: where it does not run, the user has chosen to go without it.
    static std::unique_ptr<MountService> connect();

    bool unmountFilesystems(const std::string& blockName) override;
    std::optional<std::string> mount(const std::string& blockName) override;

private:
    struct BusCloser {
        void operator()(sd_bus* bus) const noexcept;
    };
    using BusPtr = std::unique_ptr<sd_bus, BusCloser>;

    explicit Udisks2(BusPtr bus) noexcept;

    BusPtr bus_;
};

} // namespace trayvo
