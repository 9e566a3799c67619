#include "platform/off_thread_os_operations.h"

#include <optional>
#include <utility>

namespace trayvo {

OffThreadOsOperations::OffThreadOsOperations(WindowRuntime& runtime, std::shared_ptr<OsOperations> operations)
    : runtime_(runtime)
    , operations_(std::move(operations))
{
}

// operation holds copies of its arguments; the answer is shared with the
// call, so that neither lives on a stack the wait may have left.
template <typename Operation>
auto OffThreadOsOperations::offThread(Operation operation) const
{
    using Answer = decltype(operation(*operations_));
    auto answer = std::make_shared<std::optional<Answer>>();
    runtime_.waitFor([operations = operations_, operation = std::move(operation), answer] {
        answer->emplace(operation(*operations));
    });
    return std::move(**answer);
}

std::vector<DriveRoot> OffThreadOsOperations::candidateRoots() const
{
    return operations_->candidateRoots();
}

DriveType OffThreadOsOperations::getDriveType(const DriveRoot& root) const
{
    return operations_->getDriveType(root);
}

DiskFreeSpace OffThreadOsOperations::getDiskFreeSpace(const DriveRoot& root) const
{
    return offThread([root](const OsOperations& os) { return os.getDiskFreeSpace(root); });
}

std::uint32_t OffThreadOsOperations::sendMciString(const std::u16string& command)
{
    return offThread([command](OsOperations& os) { return os.sendMciString(command); });
}

bool OffThreadOsOperations::startProcess(const std::u16string& commandLine, ShowState showState)
{
    return offThread([commandLine, showState](OsOperations& os) { return os.startProcess(commandLine, showState); });
}

void OffThreadOsOperations::shellExecute(WindowHandle owner, const std::u16string& url)
{
    runtime_.waitFor([operations = operations_, owner, url] { operations->shellExecute(owner, url); });
}

} // namespace trayvo
