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

// The main window over fakes, shown as program start shows it.
struct MainWindow {
    explicit MainWindow(FakeOsOperations fakeOs)
        : os(std::move(fakeOs))
    {
        form.Show();
    }

    FakeWindow& window() { return static_cast<FakeWindow&>(form.window()); }
    testing::FakeControl& status() { return window().control("CDROMstatus"); }
    testing::FakeControl& selector() { return window().control("Combox"); }
    testing::FakeControl& timer() { return window().control("Timer1"); }
    testing::FakeControl& count() { return window().control("numofCDROM"); }
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

    FakeOsOperations os;
    FakeWindowRuntime runtime;
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
    std::vector<std::pair<bool, MousePointer>> seen;
};

TEST(frmMain, LoadsWithTwoDrivesAndADataDiscInTheFirst)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\"};
    MainWindow main(std::move(os));
    FakeWindow& window = main.window();

    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.caption, u"Trayvo2010");
    EXPECT_EQ(window.control("numofCDROM").caption, u"2个");
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"F:\\"}));
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(main.status().caption, present);
    EXPECT_EQ(window.control("Label7").color, 0x00D39F14u);
    EXPECT_TRUE(window.control("Command1").enabled());
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.os.probed, std::vector<DriveRoot>{u"D:\\"});
}

TEST(frmMain, NoDriveDisablesTheButtonsAndNeverWatches)
{
    MainWindow main(FakeOsOperations::withCdroms({}));
    EXPECT_EQ(main.window().control("numofCDROM").caption, u"0个");
    EXPECT_TRUE(main.selector().items.empty());
    EXPECT_EQ(main.status().caption, noDriveText);
    for (auto button : {"Command1", "Command2", "Command3"})
        EXPECT_FALSE(main.window().control(button).enabled()) << button;
    main.timer().elapse();
    EXPECT_EQ(main.timer().ticks, 0);
    EXPECT_TRUE(main.os.probed.empty());
}

TEST(frmMain, TheStatusLineFollowsTheSelectedDriveAndIsWrittenOnlyOnAChange)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"E:\\", u"F:\\"});
    os.discs = {u"E:\\"};
    MainWindow main(std::move(os));
    auto& status = main.status();
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 1);

    main.os.discs.insert(u"D:\\");
    main.timer().elapse();
    EXPECT_EQ(status.caption, present);
    EXPECT_EQ(status.captionWrites, 2);

    // Another drive in the same state: nothing to write, now or at the tick.
    main.selector().setSelectedIndex(1);
    main.timer().elapse();
    EXPECT_EQ(main.os.probed.back(), u"E:\\");
    EXPECT_EQ(status.captionWrites, 2);

    main.selector().setSelectedIndex(2);
    EXPECT_EQ(status.captionWrites, 2);
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 3);
}

TEST(frmMain, AnErrorInTheTickShowsOneMessageAndTheWatchGoesOn)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\"}));
    auto& timer = main.timer();
    // While the message is up the timer keeps falling due.
    main.runtime.whileErrorShown = [&] {
        for (int i = 0; i < 3; ++i)
            timer.elapse();
    };

    main.os.probeFailure = "设备未就绪";
    timer.elapse();
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"设备未就绪"});
    EXPECT_EQ(main.os.probed.size(), 2u); // load, then the one failing tick

    main.os.probeFailure.clear();
    main.os.discs = {u"D:\\"};
    timer.elapse();
    EXPECT_EQ(main.status().caption, present);
    EXPECT_EQ(main.runtime.errorsShown.size(), 1u);
}

TEST(frmMain, TrayButtonsPauseTheWatchAndShowTheHourglassThroughout)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\", u"E:\\"}));
    const auto& seen = main.watchDuringActions();
    main.selector().setSelectedIndex(1);
    const int intervalsBefore = main.timer().freshIntervals;

    main.window().control("Command1").click();
    main.window().control("Command2").click();
    ASSERT_EQ(main.os.mciCommands.size(), 6u);
    EXPECT_NE(main.os.mciCommands[3].find(u"E:\\"), std::u16string::npos) << "not the selected drive";
    EXPECT_EQ(seen, (std::vector<std::pair<bool, MousePointer>>(6, {false, MousePointer::Hourglass})));
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.timer().freshIntervals, intervalsBefore + 2); // each restart waits a full interval
    EXPECT_EQ(main.window().pointer, MousePointer::Default);

    // Restored even when the action fails.
    main.os.actionFailure = "驱动器忙";
    main.window().control("Command1").click();
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.window().pointer, MousePointer::Default);
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"驱动器忙"});
}

TEST(frmMain, FolderButtonKeepsTheWatchAndReportsAFolderThatCannotOpen)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\", u"F:\\"}));
    const auto& seen = main.watchDuringActions();
    main.selector().setSelectedIndex(1);

    main.window().control("Command3").click();
    ASSERT_EQ(main.os.started.size(), 1u);
    EXPECT_EQ(main.os.started[0], std::pair(std::u16string(u"explorer.exe F:\\"), ShowState::MinimizedActivated));
    EXPECT_EQ(seen, (std::vector<std::pair<bool, MousePointer>>{{true, MousePointer::Hourglass}}));

    main.os.processStarts = false;
    main.window().control("Command3").click();
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"无法打开光驱设备 F:\\ 的目录。"});
    EXPECT_EQ(main.window().pointer, MousePointer::Default);
}

// The main window over the operations as the program wires them, each
// blocking call a wait, with drive D:.
struct WiredMainWindow {
    WiredMainWindow() { form.Show(); }

    FakeWindow& window() { return static_cast<FakeWindow&>(form.window()); }

    std::shared_ptr<FakeOsOperations> os =
        std::make_shared<FakeOsOperations>(FakeOsOperations::withCdroms({u"D:\\"}));
    FakeWindowRuntime runtime;
    OffThreadOsOperations offThread{runtime, os};
    ctlCdrom drives{offThread};
    frmMain form{runtime, drives, offThread};
};

TEST(frmMain, WhatComesWhileACallIsWaitedForIsHandledAfterItOnce)
{
    WiredMainWindow main;
    auto& os = main.os;
    auto& runtime = main.runtime;
    FakeWindow& window = main.window();
    auto& timer = window.control("Timer1");
    EXPECT_EQ(runtime.waits, 1);

    // Both buttons pressed while the tray moves: each action runs whole,
    // after it, in turn.
    bool pressed = false;
    runtime.whileWaiting = [&] {
        if (std::exchange(pressed, true))
            return;
        window.control("Command2").click();
        window.control("Command1").click();
    };
    window.control("Command1").click();
    const std::vector<std::u16string> open{u"open D:\\ type CDAudio alias nowCD wait", u"set nowCD door open wait",
                                           u"close nowCD"};
    std::vector<std::u16string> expected = open;
    expected.insert(expected.end(), {u"open D:\\ type CDAudio alias nowCD wait", u"set nowCD door closed wait",
                                     u"close nowCD"});
    expected.insert(expected.end(), open.begin(), open.end());
    EXPECT_EQ(os->mciCommands, expected);

    // Ticks falling due during a slow probe are dropped: one probe at a time.
    bool fellDue = false;
    runtime.whileWaiting = [&] {
        if (std::exchange(fellDue, true))
            return;
        for (int i = 0; i < 3; ++i)
            timer.elapse();
    };
    timer.elapse();
    EXPECT_EQ(os->probed.size(), 2u);
    EXPECT_EQ(timer.ticks, 4);
}

// The drive pulled out while its tray moves: the notice is heard once the
// whole tray action has ended, so that the action's own last steps (the timer
// started again) cannot undo the no-drive state it leads to.
TEST(frmMain, ADriveRemovedDuringATrayActionIsHeardOnceAfterIt)
{
    WiredMainWindow main;
    auto& os = main.os;
    FakeWindow& window = main.window();
    const int listedAtLoad = os->listings;

    std::vector<Text> listWhenHeard;
    main.runtime.whileWaiting = [&] {
        if (os->mciCommands.size() != 2 || os->types[u"D:\\"] == DriveType::NoRootDir)
            return;
        os->types[u"D:\\"] = DriveType::NoRootDir;
        window.drivesChanged();
        listWhenHeard = window.control("Combox").items;
    };
    window.control("Command1").click();

    EXPECT_EQ(listWhenHeard, std::vector<Text>{u"D:\\"}) << "heard inside the tray action";
    EXPECT_EQ(os->mciCommands.size(), 3u);
    EXPECT_EQ(os->listings, listedAtLoad + 1);
    EXPECT_TRUE(window.control("Combox").items.empty());
    EXPECT_EQ(window.control("numofCDROM").caption, u"0个");
    EXPECT_EQ(window.control("CDROMstatus").caption, noDriveText);
    EXPECT_FALSE(window.control("Timer1").enabled());
    EXPECT_FALSE(window.control("Command1").enabled());
    EXPECT_EQ(window.pointer, MousePointer::Default);
}

TEST(frmMain, TheListFollowsDrivesAttachedAndRemovedAndKeepsTheSelectedDrive)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\", u"F:\\"};
    MainWindow main(std::move(os));
    main.selector().setSelectedIndex(1);

    main.retype(u"E:\\", DriveType::Cdrom);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"E:\\", u"F:\\"}));
    EXPECT_EQ(main.count().caption, u"3个");
    EXPECT_EQ(main.selector().text(), u"F:\\");

    main.retype(u"D:\\", DriveType::NoRootDir);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"E:\\", u"F:\\"}));
    EXPECT_EQ(main.count().caption, u"2个");
    EXPECT_EQ(main.selector().text(), u"F:\\");
    EXPECT_EQ(main.status().captionWrites, 1) << "the selected drive stayed: nothing to write";

    // A stick, or a disc put in: the same drives, and nothing is touched.
    const int countWrites = main.count().captionWrites;
    main.retype(u"G:\\", DriveType::Removable);
    main.os.discs.insert(u"E:\\");
    main.window().drivesChanged();
    EXPECT_EQ(main.count().captionWrites, countWrites);
    EXPECT_EQ(main.selector().text(), u"F:\\");
}

// The stick that takes a pulled drive's letter is no optical drive, and a
// letter that becomes one joins the list.
TEST(frmMain, WhenTheSelectedDriveGoesTheFirstIsChosenAndItsStatusShownIfItDiffers)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"E:\\", u"F:\\"});
    os.discs = {u"D:\\", u"E:\\"};
    MainWindow main(std::move(os));
    auto& status = main.status();
    main.selector().setSelectedIndex(1);

    main.retype(u"E:\\", DriveType::Removable);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"F:\\"}));
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(main.os.probed.back(), u"D:\\");
    EXPECT_EQ(status.captionWrites, 1) << "D: has a disc too: nothing to write";

    main.selector().setSelectedIndex(1);
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    main.retype(u"F:\\", DriveType::Removable);
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(status.caption, present) << "written at once, not at the next tick";
    EXPECT_EQ(status.captionWrites, 3);

    main.retype(u"E:\\", DriveType::Cdrom);
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"E:\\"}));
    EXPECT_EQ(status.captionWrites, 3);
}

TEST(frmMain, NoDriveThenOneThenNoneAgain)
{
    MainWindow main(FakeOsOperations::withCdroms({}));
    const auto buttonsEnabled = [&] {
        std::vector<bool> enabled;
        for (auto button : {"Command1", "Command2", "Command3"})
            enabled.push_back(main.window().control(button).enabled());
        return enabled;
    };

    main.os.discs = {u"D:\\"};
    main.retype(u"D:\\", DriveType::Cdrom);
    EXPECT_EQ(main.count().caption, u"1个");
    EXPECT_EQ(main.selector().items, std::vector<Text>{u"D:\\"});
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(main.status().caption, present);
    EXPECT_EQ(buttonsEnabled(), std::vector<bool>(3, true));
    EXPECT_TRUE(main.timer().enabled());

    main.retype(u"D:\\", DriveType::NoRootDir);
    EXPECT_EQ(main.count().caption, u"0个");
    EXPECT_TRUE(main.selector().items.empty());
    EXPECT_EQ(main.status().caption, noDriveText);
    EXPECT_EQ(main.status().captionWrites, 3) << "once at load, once for each change";
    EXPECT_EQ(buttonsEnabled(), std::vector<bool>(3, false));
    EXPECT_FALSE(main.timer().enabled());
}

// The About window over the main one, from its link and from the help key:
// a fresh window each time, its link asking for the site on its own behalf,
// and the disc watch going on.
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
            EXPECT_EQ(main.count().caption, decimalText(opening + 1) + u"个");
            about.control("Command1").click();
        };
        if (opening == 1)
            main.window().control("Label7").click();
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
