#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trayvo {

// Where a drive is reached: "D:\" on Windows, a device node such as
// "/dev/sr0" on Linux. Held as UTF-16 like every text of the program and
// converted to the system's encoding at each operating-system call.
using DriveRoot = std::u16string;

// The native handle of a window, as the window runtime gives it.
using WindowHandle = std::uintptr_t;

// Drive types as the Windows drive query reports them; the program acts on
// Cdrom only, the others exist so that a platform can say what it saw.
enum class DriveType : std::uint32_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    Cdrom = 5,
    RamDisk = 6,
};

// How a started program shows its window.
enum class ShowState : int {
    MinimizedActivated = 2,
    Maximized = 3,
};

// The four figures of a free-space query; all zero when the query fails.
struct DiskFreeSpace {
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint32_t freeClusters = 0;
    std::uint32_t totalClusters = 0;
};

// The operating-system services the drive module relies on. One
// implementation per platform; tests use a fake.
class OsOperations {
public:
    virtual ~OsOperations() = default;

    // Every root that may be a drive, in the order the drive list shows them.
    virtual std::vector<DriveRoot> candidateRoots() const = 0;

    // The type of the drive at root; Cdrom marks an optical drive. A root that
    // cannot be queried gives some other type, never an error.
    virtual DriveType getDriveType(const DriveRoot& root) const = 0;

    // Free-space figures of the disc at root. totalClusters is nonzero exactly
    // when a readable disc is in the drive; any failure gives all zeros.
    virtual DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const = 0;

    // Sends one MCI command string; its MCI result, 0 on success.
    virtual std::uint32_t sendMciString(const std::u16string& command) = 0;

    // Starts commandLine with its window shown as showState, without waiting
    // for it; false when it could not be started.
    virtual bool startProcess(const std::u16string& commandLine, ShowState showState) = 0;

    // Opens url in the user's browser, maximized where the platform allows,
    // on behalf of the window owner. Failure is silent.
    virtual void shellExecute(WindowHandle owner, const std::u16string& url) = 0;

protected:
    OsOperations() = default;
    OsOperations(const OsOperations&) = default;
    OsOperations& operator=(const OsOperations&) = default;
};

} // namespace trayvo
