#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace trayvo::mci {

// Windows' own MCI error numbers, so that a result means the same on every
// platform.
enum Error : std::uint32_t {
    Success = 0,
    UnrecognizedKeyword = 259,
    UnrecognizedCommand = 261,
    Hardware = 262,
    InvalidDeviceName = 263,
    MissingCommandString = 267,
    ParamOverflow = 268,
    MissingStringArgument = 269,
    MissingParameter = 273,
    DeviceTypeRequired = 287,
    DeviceLocked = 288,
    DuplicateAlias = 289,
    MissingDeviceName = 292,
    NoClosingQuote = 294,
    DuplicateFlags = 295,
};

// open <device> type <type> [alias <alias>] [wait]
struct OpenCommand {
    std::string device;
    std::string type;
    std::string alias; // the device itself when none is given
    bool wait = false;
};

// set <alias> door open|closed [wait]
struct SetDoorCommand {
    std::string alias;
    bool open = false;
    bool wait = false;
};

// close <alias> [wait]
struct CloseCommand {
    std::string alias;
    bool wait = false;
};

struct ParseError {
    Error error = Success;
};

using Command = std::variant<ParseError, OpenCommand, SetDoorCommand, CloseCommand>;

// The longest command text accepted; MCI strings are short sentences.
inline constexpr std::size_t maxCommandLength = 1024;

// Reads one MCI command string. Keywords are case-insensitive; a device or
// alias may be double-quoted. Pure: it names what to do and does nothing.
Command parse(std::string_view text);

} // namespace trayvo::mci
