#pragma once

#include "platform/os_operations.h"
#include "platform/window_runtime.h"

#include <memory>

namespace trayvo {

// The operating-system operations with every one that may wait on a drive,
// a service or a process start run through the window runtime's wait, off
// the window's thread: the window keeps running whatever the drive does,
// while the caller keeps its plain synchronous call.
//
// The drive list's two queries go straight through: they read the system's
// own table of devices (sysfs, the drive letters), never the drive.
//
// The operations are shared with each call, which owns its arguments and its
// answer, so a call that is still blocked when the program ends touches
// nothing that has gone. They are used by one thread at a time: the worker
// during a wait, the window's thread otherwise.
class OffThreadOsOperations final : public OsOperations {
public:
    OffThreadOsOperations(WindowRuntime& runtime, std::shared_ptr<OsOperations> operations);

    std::vector<DriveRoot> candidateRoots() const override;
    DriveType getDriveType(const DriveRoot& root) const override;
    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override;
    std::uint32_t sendMciString(const std::u16string& command) override;
    bool startProcess(const std::u16string& commandLine, ShowState showState) override;
    void shellExecute(WindowHandle owner, const std::u16string& url) override;

private:
    template <typename Operation>
    auto offThread(Operation operation) const;

    WindowRuntime& runtime_;
    std::shared_ptr<OsOperations> operations_;
};

} // namespace trayvo
