#include "platform/linux/mci_linux.h"

#include <utility>

namespace trayvo::mci {
namespace {

// The drive node named by "open <node> type CDAudio alias nowCD wait"; empty
// for any other text.
std::string_view openedNode(std::string_view command)
{
    constexpr std::string_view before = "open ";
    constexpr std::string_view after = " type CDAudio alias nowCD wait";
    if (command.size() <= before.size() + after.size() || !command.starts_with(before) || !command.ends_with(after))
        return {};
    return command.substr(before.size(), command.size() - before.size() - after.size());
}

} // namespace

std::uint32_t Interpreter::send(std::string_view command)
{
    bool carriedOut = false;
    if (command == "set nowCD door open wait")
        carriedOut = moveDoor(true);
    else if (command == "set nowCD door closed wait")
        carriedOut = moveDoor(false);
    else if (command == "close nowCD")
        carriedOut = std::exchange(nowCD_, nullptr) != nullptr;
    else if (const std::string_view node = openedNode(command); !node.empty())
        carriedOut = open(std::string(node));
    return carriedOut ? 0 : notCarriedOut;
}

bool Interpreter::open(const std::string& node)
{
    if (nowCD_ || !devices_.isOpticalDrive(node))
        return false;
    nowCD_ = devices_.open(node);
    node_ = node;
    return nowCD_ != nullptr;
}

bool Interpreter::moveDoor(bool open)
{
    if (!nowCD_)
        return false;
    if (!open)
        return nowCD_->closeTray();
    // A mounted disc keeps the door locked; let go of it first, and leave the
    // tray shut when it cannot be let go.
    return devices_.unmountFilesystems(node_) && nowCD_->eject();
}

} // namespace trayvo::mci
