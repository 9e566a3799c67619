// Runs under run_with_mock_udisks.py, which provides the buses and the mock
// UDisks2 with the block devices described there.
#include "platform/linux/os_operations_linux.h"
#include "platform/linux/tray_devices_linux.h"
#include "platform/text_encoding.h"
#include "platform/linux/udisks2_linux.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdint>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace trayvo {
namespace {

using Options = std::map<std::string, bool>;

constexpr std::uint64_t callTimeoutUsec = 5'000'000;

struct BusUnref {
    void operator()(sd_bus* bus) const noexcept { sd_bus_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        throw std::runtime_error(std::string(name) + " is not set: run this through run_with_mock_udisks.py");
    return value;
}

// Points the system bus elsewhere for as long as it lives.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address)
        : saved_(environment("DBUS_SYSTEM_BUS_ADDRESS"))
    {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }
    ~SystemBusAddress() { ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved_.c_str(), 1); }
    SystemBusAddress(const SystemBusAddress&) = delete;
    SystemBusAddress& operator=(const SystemBusAddress&) = delete;

private:
    std::string saved_;
};

void check(int result, const char* what)
{
    if (result < 0)
        throw std::runtime_error(std::string(what) + " failed");
}

// Calls member with the arguments append adds; the reply, or null for an
// error reply.
MessagePtr callOnSystemBus(const char* destination, const std::string& path, const char* interface,
                           const char* member, const std::function<int(sd_bus_message*)>& append)
{
    sd_bus* rawBus = nullptr;
    check(sd_bus_open_system(&rawBus), "connecting to the system bus");
    const BusPtr bus(rawBus);
    sd_bus_message* rawRequest = nullptr;
    check(sd_bus_message_new_method_call(bus.get(), &rawRequest, destination, path.c_str(), interface, member),
          member);
    const MessagePtr request(rawRequest);
    check(append(request.get()), member);
    sd_bus_message* rawReply = nullptr;
    sd_bus_call(bus.get(), request.get(), callTimeoutUsec, nullptr, &rawReply);
    return MessagePtr(rawReply);
}

// Asks the bus to start UDisks2 by activation, whatever comes of it.
void activateUdisks2()
{
    callOnSystemBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "StartServiceByName",
                    [](sd_bus_message* request) {
                        return sd_bus_message_append(request, "su", "org.freedesktop.UDisks2", 0U);
                    });
}

// The boolean entries of an a{sv}, the only kind of option we pass.
Options readBooleanOptions(sd_bus_message* message)
{
    Options options;
    check(sd_bus_message_enter_container(message, 'v', "a{sv}"), "reading the options");
    check(sd_bus_message_enter_container(message, 'a', "{sv}"), "reading the options");
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char* key = nullptr;
        const char* type = nullptr;
        check(sd_bus_message_read(message, "s", &key), "reading an option");
        check(sd_bus_message_peek_type(message, nullptr, &type), "reading an option");
        int value = 0;
        if (std::string(type) == "b") {
            check(sd_bus_message_read(message, "v", "b", &value), "reading an option");
            options[key] = value != 0;
        } else {
            check(sd_bus_message_skip(message, "v"), "skipping an option");
        }
        check(sd_bus_message_exit_container(message), "reading an option");
    }
    check(sd_bus_message_exit_container(message), "reading the options");
    check(sd_bus_message_exit_container(message), "reading the options");
    return options;
}

// The options of every call of method on the mock's block device, in call
// order, from the mock's own record of calls.
std::vector<Options> callsOf(const std::string& blockName, const char* method)
{
    const MessagePtr reply = callOnSystemBus(
        "org.freedesktop.UDisks2", "/org/freedesktop/UDisks2/block_devices/" + blockName,
        "org.freedesktop.DBus.Mock", "GetMethodCalls",
        [method](sd_bus_message* request) { return sd_bus_message_append(request, "s", method); });
    if (!reply)
        throw std::runtime_error(std::string("the mock has no record of ") + method + " on " + blockName);
    std::vector<Options> calls;
    check(sd_bus_message_enter_container(reply.get(), 'a', "(tav)"), "reading the calls");
    while (sd_bus_message_enter_container(reply.get(), 'r', "tav") > 0) {
        std::uint64_t timestamp = 0;
        check(sd_bus_message_read(reply.get(), "t", &timestamp), "reading a call");
        check(sd_bus_message_enter_container(reply.get(), 'a', "v"), "reading a call");
        calls.push_back(readBooleanOptions(reply.get()));
        check(sd_bus_message_exit_container(reply.get()), "reading a call");
        check(sd_bus_message_exit_container(reply.get()), "reading a call");
    }
    return calls;
}

const Options noInteraction{{"auth.no_user_interaction", true}};

TEST(Udisks2PathElement, EscapesEveryByteOutsideAsciiLettersAndDigits)
{
    const std::vector<std::pair<std::string, std::string>> cases{
        {"sr0", "sr0"},
        {"AZaz09", "AZaz09"},
        {"dm-0", "dm_2d0"},
        {"sr_0", "sr_5f0"},
        {"a b/c.d", "a_20b_2fc_2ed"},
        {"\xe5\x85\x89", "_e5_85_89"}, // 光: each byte of it, unsigned, lowercase
        {std::string(1, '\0') + "\x7f\xff", "_00_7f_ff"},
        {"", ""},
    };
    for (const auto& [name, element] : cases)
        EXPECT_EQ(udisks2PathElement(name), element) << "for " << name;
}

TEST(Udisks2Connect, FindsTheServiceOnlyOnABusWhereItRuns)
{
    EXPECT_TRUE((Udisks2::connect() != nullptr));

    const std::filesystem::path marker = environment("TRAYVO_TEST_ACTIVATION_MARKER");
    {
        const SystemBusAddress idle(environment("TRAYVO_TEST_IDLE_BUS"));
        EXPECT_FALSE((Udisks2::connect() != nullptr));
        EXPECT_FALSE(std::filesystem::exists(marker)) << "connect() started the service by activation";

        // Without this, a missing marker would prove nothing: starting the
        // stand-in leaves it, though the stand-in never takes the name.
        activateUdisks2();
        EXPECT_TRUE(std::filesystem::exists(marker)) << "the idle bus cannot show activation";
    }
    {
        const SystemBusAddress none(environment("TRAYVO_TEST_NO_BUS"));
        EXPECT_FALSE((Udisks2::connect() != nullptr));
    }
}

TEST(Udisks2Unmount, UnmountsOnlyWhatIsMountedWithoutAskingForAPassword)
{
    const std::unique_ptr<MountService> udisks = Udisks2::connect();
    ASSERT_NE(udisks, nullptr);

    // Mounted in two places: one Unmount covers both.
    EXPECT_TRUE(udisks->unmountFilesystems("sr0"));
    EXPECT_EQ(callsOf("sr0", "Unmount"), std::vector<Options>{noInteraction});
    EXPECT_TRUE(udisks->unmountFilesystems("sr0"));
    EXPECT_EQ(callsOf("sr0", "Unmount").size(), 1U) << "unmounted what was no longer mounted";

    EXPECT_TRUE(udisks->unmountFilesystems("sr1"));
    EXPECT_TRUE(callsOf("sr1", "Unmount").empty());

    // No filesystem at all (an audio CD), or a device UDisks2 does not know:
    // nothing of it can be mounted.
    EXPECT_TRUE(udisks->unmountFilesystems("sr3"));
    EXPECT_TRUE(udisks->unmountFilesystems("sr9"));

    EXPECT_FALSE(udisks->unmountFilesystems("sr2")) << "a busy filesystem passed for unmounted";
    EXPECT_EQ(callsOf("sr2", "Unmount"), std::vector<Options>{noInteraction});
}

TEST(Udisks2Mount, GivesTheMountPathExactlyAsUdisks2ChoseIt)
{
    const std::unique_ptr<MountService> udisks = Udisks2::connect();
    ASSERT_NE(udisks, nullptr);

    // "/media/user/数据 光盘", spelt out in UTF-8 so that the source's own
    // encoding cannot matter.
    const std::string labelMount = "/media/user/\xe6\x95\xb0\xe6\x8d\xae \xe5\x85\x89\xe7\x9b\x98";
    EXPECT_EQ(udisks->mount("sr4"), labelMount);
    EXPECT_EQ(callsOf("sr4", "Mount"), std::vector<Options>{noInteraction});

    EXPECT_EQ(udisks->mount("sr5"), "/media/user/OLD DISC");
    EXPECT_TRUE(callsOf("sr5", "Mount").empty()) << "mounted again what was mounted already";

    EXPECT_EQ(udisks->mount("sr6"), std::nullopt);
    EXPECT_EQ(callsOf("sr6", "Mount").size(), 1U);
    EXPECT_EQ(udisks->mount("sr3"), std::nullopt);
    EXPECT_EQ(udisks->mount("sr9"), std::nullopt);
}

// The program's own folder and tray commands reach UDisks2: the drives'
// nodes are plain files here, so nothing of them is mounted as far as the
// kernel's mount table goes.
TEST(Udisks2InThePrograms, FolderAndTrayCommandsGoThroughUdisks2)
{
    std::string scratch = ::testing::TempDir() + "trayvo-udisks-XXXXXX";
    ASSERT_NE(::mkdtemp(scratch.data()), nullptr);
    const std::filesystem::path root = scratch;
    std::filesystem::create_directories(root / "dev");
    for (const char* name : {"sr7", "sr8", "sr10"})
        std::ofstream(root / "dev" / name) << "";
    const std::filesystem::path opener = root / "opener";
    std::ofstream(opener) << "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.arg\"\n";
    std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
    const LinuxLocations locations{.sysBlockDir = root / "sys", .devDir = root / "dev", .opener = opener.string()};
    LinuxOsOperations os(locations);

    // Not mounted: mounted through UDisks2, and its path is what opens.
    ASSERT_TRUE(os.startProcess(u"explorer.exe " + fromUtf8((root / "dev" / "sr7").string()),
                                ShowState::MinimizedActivated));
    const std::filesystem::path received = opener.string() + ".arg";
    for (int i = 0; i < 500 && !std::filesystem::exists(received); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(received);
    const std::string path((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(path, "/media/user/\xe6\x95\xb0\xe6\x8d\xae \xe5\x85\x89\xe7\x9b\x98");

    LinuxTrayDevices devices(locations, &Udisks2::connect);
    EXPECT_FALSE(devices.unmountFilesystems((root / "dev" / "sr8").string())) << "a busy disc passed for unmounted";
    EXPECT_TRUE(devices.unmountFilesystems((root / "dev" / "sr10").string()));
    EXPECT_EQ(callsOf("sr10", "Unmount").size(), 1U);

    std::filesystem::remove_all(root);
}

} // namespace
} // namespace trayvo
