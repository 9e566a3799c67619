#pragma once

#include <cstdint>
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

// What every command that is not carried out answers. Windows has an MCI
// error number for each cause, but the drive module reads none of them.
inline constexpr std::uint32_t notCarriedOut = 261; // MCIERR_UNRECOGNIZED_COMMAND

// Carries out the MCI command strings the drive module sends to move a tray,
// exactly as it sends them, and no others:
//     open <drive node> type CDAudio alias nowCD wait
//     set nowCD door open wait    or    set nowCD door closed wait
//     close nowCD
// The alias holds the drive open from its open to its close, so that the
// kernel sees one user throughout.
class Interpreter {
public:
    explicit Interpreter(TrayDevices& devices) : devices_(devices) {}

    // 0 when the command was carried out, notCarriedOut otherwise.
    std::uint32_t send(std::string_view command);

private:
    bool open(const std::string& node);
    bool moveDoor(bool open);

    TrayDevices& devices_;
    std::string node_;
    std::unique_ptr<TrayDrive> nowCD_; // null while the alias is closed
};

} // namespace trayvo::mci
