#pragma once

#include "platform/linux/mount_service_linux.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace trayvo {

// UDisks2 on the system bus, reached anew inside each operation: connecting
// is cheap, and holding nothing between operations means a service restarted
// in the meantime is simply found again.
//
// Each operation has one deadline for all of it, connecting included, so a
// bus or a service that hangs costs the window that long at most. Only a
// definite answer from UDisks2 counts: silence, a lost connection or a
// deadline passed means the disc could not be unmounted. Nothing here ever
// asks for a password: the calls block the window, and a prompt could not be
// answered in time. Nor does anything here start the service by bus
// activation: where it does not run, the user has chosen to go without it.
class Udisks2 final : public MountService {
public:
    // All one operation may wait, connecting included: long enough for a
    // mount that has to spin a disc up first.
    static constexpr std::chrono::seconds operationTimeLimit{10};

    explicit Udisks2(std::chrono::milliseconds timeLimit = operationTimeLimit);

    UnmountOutcome unmountFilesystems(const std::string& blockName) override;
    std::optional<std::string> mount(const std::string& blockName) override;

private:
    std::chrono::milliseconds timeLimit_;
};

} // namespace trayvo
