// Feeds arbitrary text to the MCI interpreter, one command per line, over
// fake drives only: the real device layer would move the trays and unmount
// the discs of the machine running the fuzzer.

#include "platform/linux/mci_interpreter.h"
#include "tests/fakes/fake_tray_devices.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool isKnownResult(std::uint32_t result)
{
    using namespace trayvo::mci;
    switch (result) {
    case Success: case UnrecognizedKeyword: case UnrecognizedCommand: case Hardware: case InvalidDeviceName:
    case MissingCommandString: case ParamOverflow: case MissingStringArgument: case MissingParameter:
    case DeviceTypeRequired: case DeviceLocked: case DuplicateAlias: case MissingDeviceName:
    case NoClosingQuote: case DuplicateFlags:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    trayvo::mci::testing::FakeDevices devices;
    devices.busy = {"/dev/sr1"};
    {
        trayvo::mci::Interpreter mci(devices);
        std::string_view input(reinterpret_cast<const char*>(data), size);
        while (!input.empty()) {
            const std::size_t end = input.find('\n');
            if (!isKnownResult(mci.send(input.substr(0, end))))
                std::abort();
            if (devices.openCount < 0)
                std::abort();
            input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        }
    }
    // Every drive the commands opened is closed with the interpreter.
    if (devices.openCount != 0)
        std::abort();
    return 0;
}
