#pragma once

#include "platform/os_operations.h"

#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace trayvo::testing {

// Drives described in a few lines: which roots exist, their types, which
// hold a disc. Records every probe so tests can see what was asked.
class FakeOsOperations final : public OsOperations {
public:
    std::vector<DriveRoot> candidates;
    std::map<DriveRoot, DriveType> types;
    std::set<DriveRoot> discs;
    std::string probeFailure; // when set, a probe throws with this text
    std::function<void()> duringProbe; // runs at each probe
    mutable std::vector<DriveRoot> probed;
    mutable int listings = 0; // how often the candidate roots were asked for
    std::vector<std::pair<WindowHandle, std::u16string>> opened; // shellExecute calls
    std::vector<std::u16string> mciCommands;
    std::vector<std::pair<std::u16string, ShowState>> started; // startProcess calls
    bool processStarts = true;
    std::function<void()> duringAction; // runs at each MCI command and process start
    std::string actionFailure;          // when set, an MCI command throws with this text
    std::function<std::uint32_t(const std::u16string&)> mciResult; // each command's result; 0 without it

    // Windows-style drives "A:\" to "Z:\": the given roots are optical, and
    // drive C is a hard disk.
    static FakeOsOperations withCdroms(std::initializer_list<std::u16string_view> cdroms)
    {
        FakeOsOperations os;
        for (char16_t letter = u'A'; letter <= u'Z'; ++letter)
            os.candidates.push_back(DriveRoot{letter, u':', u'\\'});
        os.types[u"C:\\"] = DriveType::Fixed;
        for (auto root : cdroms)
            os.types[DriveRoot(root)] = DriveType::Cdrom;
        return os;
    }

    std::vector<DriveRoot> candidateRoots() const override
    {
        ++listings;
        return candidates;
    }

    DriveType getDriveType(const DriveRoot& root) const override
    {
        const auto found = types.find(root);
        return found == types.end() ? DriveType::NoRootDir : found->second;
    }

    DiskFreeSpace getDiskFreeSpace(const DriveRoot& root) const override
    {
        probed.push_back(root);
        if (duringProbe)
            duringProbe();
        if (!probeFailure.empty())
            throw std::runtime_error(probeFailure);
        return {.totalClusters = discs.contains(root) ? 1u : 0u};
    }

    std::uint32_t sendMciString(const std::u16string& command) override
    {
        if (duringAction)
            duringAction();
        if (!actionFailure.empty())
            throw std::runtime_error(actionFailure);
        mciCommands.push_back(command);
        return mciResult ? mciResult(command) : 0;
    }

    bool startProcess(const std::u16string& commandLine, ShowState showState) override
    {
        if (duringAction)
            duringAction();
        started.emplace_back(commandLine, showState);
        return processStarts;
    }

    void shellExecute(WindowHandle owner, const std::u16string& url) override { opened.emplace_back(owner, url); }
};

} // namespace trayvo::testing
