#include "platform/linux/udev_monitor_linux.h"

#include <libudev.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace trayvo {
namespace {

struct DeviceUnref {
    void operator()(udev_device* device) const noexcept { udev_device_unref(device); }
};

// A "change" is a disc put in or taken out, which the disc watch sees; only
// a device coming or going changes the list.
bool attachedOrRemoved(udev_device* device)
{
    const char* action = udev_device_get_action(device);
    const std::string_view name = action ? action : "";
    return name == "add" || name == "remove";
}

} // namespace

void UdevDriveMonitor::UdevUnref::operator()(udev* handle) const noexcept
{
    udev_unref(handle);
}

void UdevDriveMonitor::MonitorUnref::operator()(udev_monitor* handle) const noexcept
{
    udev_monitor_unref(handle);
}

std::unique_ptr<UdevDriveMonitor> UdevDriveMonitor::open()
{
    std::unique_ptr<udev, UdevUnref> context(udev_new());
    if (!context)
        return nullptr;
    // "udev": reports sent once udev's rules have run, when the device node
    // is there to be opened; the kernel's own come before that.
    std::unique_ptr<udev_monitor, MonitorUnref> monitor(udev_monitor_new_from_netlink(context.get(), "udev"));
    // An optical drive is a whole disk of the block subsystem.
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "block", "disk") < 0
        || udev_monitor_enable_receiving(monitor.get()) < 0)
        return nullptr;
    return std::unique_ptr<UdevDriveMonitor>(new UdevDriveMonitor(std::move(context), std::move(monitor)));
}

UdevDriveMonitor::UdevDriveMonitor(std::unique_ptr<udev, UdevUnref> context,
                                   std::unique_ptr<udev_monitor, MonitorUnref> monitor)
    : udev_(std::move(context))
    , monitor_(std::move(monitor))
{
}

int UdevDriveMonitor::descriptor() const
{
    return udev_monitor_get_fd(monitor_.get());
}

// The monitor's socket does not block: receiving ends, with no device, once
// nothing more waits. Reports lost to a full socket, while the window was
// busy, may have told of a drive: the list is read again to be sure.
bool UdevDriveMonitor::drain()
{
    bool changed = false;
    while (const std::unique_ptr<udev_device, DeviceUnref> device{udev_monitor_receive_device(monitor_.get())})
        changed = attachedOrRemoved(device.get()) || changed;
    return changed || errno == ENOBUFS;
}

} // namespace trayvo
