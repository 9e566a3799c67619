#pragma once

#include "platform/linux/mci_interpreter.h"

#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace trayvo::mci::testing {

// Optical drives described in a few lines; records what was done to them and
// how many are open at once.
struct FakeDevices final : TrayDevices {
    struct Drive final : TrayDrive {
        Drive(FakeDevices& devices, std::string path) : owner(devices), node(std::move(path)) { ++owner.openCount; }
        ~Drive() override { --owner.openCount; }
        bool eject() override { return act("eject"); }
        bool closeTray() override { return act("close tray"); }
        bool act(const std::string& what)
        {
            owner.log.push_back(what + ' ' + node);
            return !owner.failing.contains(node);
        }
        FakeDevices& owner;
        std::string node;
    };

    bool isOpticalDrive(const std::string& node) const override { return optical.contains(node); }
    std::unique_ptr<TrayDrive> open(const std::string& node) override
    {
        log.push_back("open " + node);
        return std::make_unique<Drive>(*this, node);
    }
    bool unmountFilesystems(const std::string& node) override
    {
        log.push_back("unmount " + node);
        if (std::exchange(unmountThrowsOnce, false))
            throw std::runtime_error("unmount of " + node + " failed");
        return !busy.contains(node);
    }

    std::set<std::string> optical{"/dev/sr0", "/dev/sr1"};
    std::set<std::string> busy;
    std::set<std::string> failing;
    bool unmountThrowsOnce = false;
    std::vector<std::string> log;
    int openCount = 0;
};

} // namespace trayvo::mci::testing
