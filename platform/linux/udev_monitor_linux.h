#pragma once

#include "platform/drive_events.h"

#include <memory>

struct udev;
struct udev_monitor;

namespace trayvo {

// udev's reports of block devices attached and removed, after udev has
// finished setting each one up. The kernel filters the reports by subsystem
// and device type before they reach the program, so partitions, network
// cards and the like never wake it.
class UdevDriveMonitor final : public DriveEventSource {
public:
    // Listening already; null where udev cannot be listened to (no netlink
    // socket in a sandbox, say): the drive list then stays as loaded.
    static std::unique_ptr<UdevDriveMonitor> open();

    int descriptor() const override;
    bool drain() override;

private:
    struct UdevUnref {
        void operator()(udev* handle) const noexcept;
    };
    struct MonitorUnref {
        void operator()(udev_monitor* handle) const noexcept;
    };

    UdevDriveMonitor(std::unique_ptr<udev, UdevUnref> context, std::unique_ptr<udev_monitor, MonitorUnref> monitor);

    std::unique_ptr<udev, UdevUnref> udev_;
    std::unique_ptr<udev_monitor, MonitorUnref> monitor_;
};

} // namespace trayvo
