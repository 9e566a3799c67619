#include "platform/off_thread_os_operations.h"
#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_window_runtime.h"
#include "ui/main/frmMain.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>

namespace trayvo {
namespace {

using testing::FakeOsOperations;
using testing::FakeWindow;
using testing::FakeWindowRuntime;

constexpr std::u16string_view present = u"光驱设备有可用光盘。";
constexpr std::u16string_view absent = u"光驱设备中没有光盘。";
constexpr std::u16string_view noDriveText = u"程序发现，当前计算机\r\n没有可用的光驱设备。";

// The main window over fakes, shown as program start shows it, its calls
// that may wait on a drive going through the runtime's wait as the
// program's do.
struct MainWindow {
    explicit MainWindow(FakeOsOperations fakeOs)
        : shared(std::make_shared<FakeOsOperations>(std::move(fakeOs)))
    {
        form.Show();
    }

    FakeWindow& window() { return static_cast<FakeWindow&>(form.window()); }
    testing::FakeControl& control(const char* name) { return window().control(name); }
    testing::FakeControl& status() { return control("CDROMstatus"); }
    testing::FakeControl& selector() { return control("Combox"); }
    testing::FakeControl& timer() { return control("Timer1"); }
    Text count() { return control("numofCDROM").caption; }
    std::vector<bool> buttonsEnabled()
    {
        return {control("Command1").enabled(), control("Command2").enabled(), control("Command3").enabled()};
    }
    // The system reports that root has become a drive of the given type.
    void retype(const DriveRoot& root, DriveType type)
    {
        os.types[root] = type;
        window().drivesChanged();
    }
    // The timer's state and the pointer at each MCI command or process start.
    std::vector<std::pair<bool, MousePointer>>& watchDuringActions()
    {
        os.duringAction = [this] { seen.emplace_back(timer().enabled(), window().pointer); };
        return seen;
    }

    std::shared_ptr<FakeOsOperations> shared;
    FakeOsOperations& os = *shared;
    FakeWindowRuntime runtime;
    OffThreadOsOperations offThread{runtime, shared};
    ctlCdrom drives{offThread};
    frmMain form{runtime, drives, offThread};
    std::vector<std::pair<bool, MousePointer>> seen;
};

TEST(frmMain, LoadsWithTheDrivesThereAndWithoutWatchesNothingUntilOneComes)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\"};
    MainWindow main(std::move(os));

    EXPECT_EQ(main.window().shows, 1);
    EXPECT_EQ(main.window().caption, u"Trayvo2010");
    EXPECT_EQ(main.count(), u"2个");
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"F:\\"}));
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(main.status().caption, present);
    EXPECT_EQ(main.buttonsEnabled(), std::vector<bool>(3, true));
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.os.probed, std::vector<DriveRoot>{u"D:\\"});

    // Without a drive nothing is watched until one is attached.
    MainWindow none(FakeOsOperations::withCdroms({}));
    EXPECT_EQ(none.count(), u"0个");
    EXPECT_TRUE(none.selector().items.empty());
    EXPECT_EQ(none.status().caption, noDriveText);
    EXPECT_EQ(none.buttonsEnabled(), std::vector<bool>(3, false));
    none.timer().elapse();
    EXPECT_TRUE(none.os.probed.empty());
    none.os.discs = {u"D:\\"};
    none.retype(u"D:\\", DriveType::Cdrom);
    EXPECT_EQ(none.count(), u"1个");
    EXPECT_EQ(none.selector().selectedIndex(), 0);
    EXPECT_EQ(none.status().caption, present);
    EXPECT_EQ(none.buttonsEnabled(), std::vector<bool>(3, true));
    EXPECT_TRUE(none.timer().enabled());
}

// A probe's failure is shown, and the next tick watches on.
TEST(frmMain, TheStatusLineFollowsTheSelectedDriveAndIsWrittenOnlyOnAChange)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"E:\\", u"F:\\"});
    os.discs = {u"E:\\"};
    MainWindow main(std::move(os));
    auto& status = main.status();
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 1) << "written at a tick that changed nothing";

    main.os.probeFailure = "设备未就绪";
    main.timer().elapse();
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"设备未就绪"});
    main.os.probeFailure.clear();

    main.os.discs.insert(u"D:\\");
    main.timer().elapse();
    EXPECT_EQ(status.caption, present);
    EXPECT_EQ(status.captionWrites, 2);

    // Another drive in the same state: nothing to write, now or at the tick.
    main.selector().setSelectedIndex(1);
    main.timer().elapse();
    EXPECT_EQ(main.os.probed.back(), u"E:\\");
    EXPECT_EQ(status.captionWrites, 2) << "written at a tick that changed nothing";

    main.selector().setSelectedIndex(2);
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 3);
}

// The tray buttons stop the watch while the tray moves; the folder button
// keeps it, the explorer being started, not waited for.
TEST(frmMain, ButtonsShowTheHourglassAndTrayButtonsPauseTheWatchThroughout)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\", u"E:\\"}));
    const auto& seen = main.watchDuringActions();
    main.selector().setSelectedIndex(1);
    const int intervalsBefore = main.timer().freshIntervals;

    main.control("Command1").click();
    main.control("Command2").click();
    ASSERT_EQ(main.os.mciCommands.size(), 6u);
    EXPECT_NE(main.os.mciCommands[3].find(u"E:\\"), std::u16string::npos) << "not the selected drive";
    EXPECT_EQ(seen, (std::vector<std::pair<bool, MousePointer>>(6, {false, MousePointer::Hourglass})))
        << "the watch ran on, or the hourglass was not up, during a tray action";
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.timer().freshIntervals, intervalsBefore + 2); // each restart waits a full interval
    EXPECT_EQ(main.window().pointer, MousePointer::Default) << "the hourglass stayed";

    main.control("Command3").click();
    ASSERT_EQ(main.os.started.size(), 1u);
    EXPECT_EQ(main.os.started[0], std::pair(std::u16string(u"explorer.exe E:\\"), ShowState::MinimizedActivated));
    EXPECT_EQ(seen.back(), std::pair(true, MousePointer::Hourglass)) << "the folder button stopped the watch";

    // Restored even when the action fails.
    main.os.actionFailure = "驱动器忙";
    main.control("Command1").click();
    EXPECT_TRUE(main.timer().enabled()) << "the watch stayed stopped after a failed tray action";
    EXPECT_EQ(main.window().pointer, MousePointer::Default) << "the hourglass stayed after a failed tray action";
    main.os.processStarts = false;
    main.control("Command3").click();
    EXPECT_EQ(main.window().pointer, MousePointer::Default) << "the hourglass stayed after a failed folder";
    EXPECT_EQ(main.runtime.errorsShown, (std::vector<Text>{u"驱动器忙", u"无法打开光驱设备 E:\\ 的目录。"}));
}

// The drive pulled out while its tray moves: the notice is heard once the
// whole tray action has ended, so that the action's own last steps (the timer
// started again) cannot undo the no-drive state it leads to.
TEST(frmMain, ADriveRemovedDuringATrayActionIsHeardOnceAfterIt)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\"}));
    const int listedAtLoad = main.os.listings;
    std::vector<Text> listWhenHeard;
    main.runtime.whileWaiting = [&] {
        if (main.os.mciCommands.size() != 2 || main.os.types[u"D:\\"] == DriveType::NoRootDir)
            return;
        main.retype(u"D:\\", DriveType::NoRootDir);
        listWhenHeard = main.selector().items;
    };
    main.control("Command1").click();

    EXPECT_EQ(listWhenHeard, std::vector<Text>{u"D:\\"}) << "heard inside the tray action";
    EXPECT_EQ(main.os.mciCommands.size(), 3u);
    EXPECT_EQ(main.os.listings, listedAtLoad + 1);
    EXPECT_TRUE(main.selector().items.empty());
    EXPECT_EQ(main.count(), u"0个");
    EXPECT_EQ(main.status().caption, noDriveText);
    EXPECT_FALSE(main.timer().enabled()) << "the tray action's end started the watch again";
    EXPECT_EQ(main.buttonsEnabled(), std::vector<bool>(3, false));
    EXPECT_EQ(main.window().pointer, MousePointer::Default);
}

// A drive attached or removed elsewhere in the list leaves the selection on
// its drive; the selected one gone, the first is chosen and its disc state
// shown at once where it differs. Other devices change nothing.
TEST(frmMain, TheListFollowsDrivesAttachedAndRemovedAndKeepsTheSelectedDrive)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\", u"F:\\"};
    MainWindow main(std::move(os));
    auto& status = main.status();
    main.selector().setSelectedIndex(1);

    main.retype(u"E:\\", DriveType::Cdrom);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"E:\\", u"F:\\"}));
    EXPECT_EQ(main.count(), u"3个");
    EXPECT_EQ(main.selector().text(), u"F:\\") << "the selection was lost when a drive came";

    main.retype(u"D:\\", DriveType::NoRootDir);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"E:\\", u"F:\\"}));
    EXPECT_EQ(main.selector().text(), u"F:\\") << "the selection was lost when another drive went";
    EXPECT_EQ(status.captionWrites, 1) << "the selected drive stayed: nothing to write";

    // A stick is no optical drive: the same drives, and nothing is touched.
    // The list reads the system's table, never a drive: no wait.
    const int countWrites = main.control("numofCDROM").captionWrites;
    const int waits = main.runtime.waits;
    main.retype(u"G:\\", DriveType::Removable);
    EXPECT_EQ(main.control("numofCDROM").captionWrites, countWrites);
    EXPECT_EQ(main.runtime.waits, waits) << "the drive list waited as for a drive";
    EXPECT_EQ(main.selector().text(), u"F:\\");

    // The stick that takes a pulled drive's letter is no optical drive either.
    main.retype(u"F:\\", DriveType::Removable);
    EXPECT_EQ(main.selector().items, std::vector<Text>{u"E:\\"});
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(status.caption, absent) << "not written at once, only at the next tick";
    EXPECT_EQ(status.captionWrites, 2);
}

// The About window over the main one, from its link and from the help key:
// a fresh window each time, its link asking for the site on its own behalf,
// and the disc watch and the drive list going on.
TEST(frmMain, TheAboutLinkOpensAFreshAboutWindowEachTime)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\"}));
    for (int opening = 1; opening <= 2; ++opening) {
        main.runtime.whileModal = [&](FakeWindow& about) {
            EXPECT_EQ(about.modalOwner, &main.form.window());
            EXPECT_EQ(about.control("Label1").captionWrites, 1) << "not loaded afresh";
            EXPECT_EQ(about.control("Label2").caption, u"内部版本号:V3");
            about.control("Label4").click();
            EXPECT_EQ(main.os.opened.back(), std::pair(about.handle(), std::u16string(u"https://quenbrook.example/")));
            main.os.discs = {u"D:\\"};
            main.timer().elapse();
            EXPECT_EQ(main.status().caption, present);
            main.retype(opening == 1 ? u"E:\\" : u"F:\\", DriveType::Cdrom);
            EXPECT_EQ(main.count(), decimalText(opening + 1) + u"个");
            about.control("Command1").click();
        };
        if (opening == 1)
            main.control("Label7").click();
        else
            main.window().pressHelpKey();
        EXPECT_EQ(main.runtime.windowsCreated["frmAbout"], opening);
        main.os.discs.clear();
        main.timer().elapse();
    }
    EXPECT_EQ(main.os.opened.size(), 2u);
    EXPECT_TRUE(main.runtime.errorsShown.empty());
}

} // namespace
} // namespace trayvo
