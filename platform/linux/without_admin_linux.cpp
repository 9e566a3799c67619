#include "platform/linux/without_admin_linux.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace trayvo {
namespace {

// CAP_SYS_ADMIN (21) lies in the first of the capability words.
constexpr std::uint32_t adminBit = 1U << CAP_SYS_ADMIN;

} // namespace

WithoutAdminPrivilege::WithoutAdminPrivilege()
{
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    header_.pid = 0; // this thread
    if (::syscall(SYS_capget, &header_, held_) != 0)
        return;
    if ((held_[0].effective & adminBit) == 0) {
        lacksIt_ = true;
        return;
    }
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> without{};
    std::copy(std::begin(held_), std::end(held_), without.begin());
    without[0].effective &= ~adminBit;
    dropped_ = lacksIt_ = ::syscall(SYS_capset, &header_, without.data()) == 0;
}

WithoutAdminPrivilege::~WithoutAdminPrivilege()
{
    // Raising an effective capability again within the permitted set is
    // always allowed.
    if (dropped_)
        ::syscall(SYS_capset, &header_, held_);
}

} // namespace trayvo
