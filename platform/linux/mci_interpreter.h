#pragma once

#include "platform/linux/mci_command.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace trayvo::mci {

// An optical drive opened for its tray; destroying it closes the drive.
class TrayDrive {
public:
    virtual ~TrayDrive() = default;
    // Opens the tray; false when the drive refused or failed.
    virtual bool eject() = 0;
    // Closes the tray; false when the drive cannot or failed.
    virtual bool closeTray() = 0;
};

// What the interpreter acts through: the system's optical drives.
class TrayDevices {
public:
    virtual ~TrayDevices() = default;
    // Whether node is one of the optical drives the drive list shows.
    virtual bool isOpticalDrive(const std::string& node) const = 0;
    // The drive at node, opened once; null when it cannot be opened.
    virtual std::unique_ptr<TrayDrive> open(const std::string& node) = 0;
    // Unmounts what is mounted from the disc in node, as a desktop's eject
    // does; false when something stays mounted (busy, not permitted).
    virtual bool unmountFilesystems(const std::string& node) = 0;
};

// Carries out the MCI command strings that move a tray: opens a drive under
// an alias, moves its door, closes the alias. Each alias holds the drive open
// from its open to its close, so the kernel sees one user throughout.
class Interpreter {
public:
    explicit Interpreter(TrayDevices& devices);

    // The command's MCI result: Success, or the Windows error number.
    std::uint32_t send(std::string_view command);

private:
    struct OpenAlias {
        std::string node;
        std::unique_ptr<TrayDrive> drive;
    };

    Error run(const ParseError& command);
    Error run(const OpenCommand& command);
    Error run(const SetDoorCommand& command);
    Error run(const CloseCommand& command);

    TrayDevices& devices_;
    std::map<std::string, OpenAlias> aliases_; // by lower-case alias
};

} // namespace trayvo::mci
