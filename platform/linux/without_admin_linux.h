#pragma once

#include <linux/capability.h>

namespace trayvo {

// For its lifetime, the calling thread acts without CAP_SYS_ADMIN, whose
// holder the kernel lets override its rules for a drive that others use too.
// Capabilities belong to each thread: the rest of the program keeps them,
// and this thread has them back when it ends.
class WithoutAdminPrivilege {
public:
    WithoutAdminPrivilege();
    ~WithoutAdminPrivilege();
    WithoutAdminPrivilege(const WithoutAdminPrivilege&) = delete;
    WithoutAdminPrivilege& operator=(const WithoutAdminPrivilege&) = delete;

    // Whether the thread now lacks the privilege, dropped or never held.
    bool lacksIt() const { return lacksIt_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct held_[_LINUX_CAPABILITY_U32S_3]{};
    bool dropped_ = false;
    bool lacksIt_ = false;
};

} // namespace trayvo
