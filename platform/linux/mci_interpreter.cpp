#include "platform/linux/mci_interpreter.h"

#include <algorithm>

namespace trayvo::mci {
namespace {

// Aliases, like every MCI keyword, ignore case.
std::string aliasKey(std::string alias)
{
    std::ranges::transform(alias, alias.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return alias;
}

bool isCdAudio(std::string_view type)
{
    return aliasKey(std::string(type)) == "cdaudio";
}

} // namespace

Interpreter::Interpreter(TrayDevices& devices)
    : devices_(devices)
{
}

std::uint32_t Interpreter::send(std::string_view command)
{
    return std::visit([this](const auto& parsed) { return run(parsed); }, parse(command));
}

Error Interpreter::run(const ParseError& command)
{
    return command.error;
}

Error Interpreter::run(const OpenCommand& command)
{
    if (!isCdAudio(command.type) || !devices_.isOpticalDrive(command.device))
        return InvalidDeviceName;
    const std::string key = aliasKey(command.alias);
    if (aliases_.contains(key))
        return DuplicateAlias;
    std::unique_ptr<TrayDrive> drive = devices_.open(command.device);
    if (!drive)
        return Hardware;
    aliases_.emplace(key, OpenAlias{command.device, std::move(drive)});
    return Success;
}

Error Interpreter::run(const SetDoorCommand& command)
{
    const auto found = aliases_.find(aliasKey(command.alias));
    if (found == aliases_.end())
        return InvalidDeviceName;
    OpenAlias& device = found->second;
    if (!command.open)
        return device.drive->closeTray() ? Success : Hardware;
    // A mounted disc keeps the door locked; let go of it first, and leave the
    // tray shut when it cannot be let go.
    if (!devices_.unmountFilesystems(device.node))
        return DeviceLocked;
    return device.drive->eject() ? Success : Hardware;
}

Error Interpreter::run(const CloseCommand& command)
{
    return aliases_.erase(aliasKey(command.alias)) == 1 ? Success : InvalidDeviceName;
}

} // namespace trayvo::mci
