#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/fake_window_runtime.h"
#include "ui/main/frmMain.h"

#include <gtest/gtest.h>

namespace trayvo {
namespace {

using testing::FakeOsOperations;
using testing::FakeWindow;
using testing::FakeWindowRuntime;

constexpr std::u16string_view present = u"光驱设备有可用光盘。";
constexpr std::u16string_view absent = u"光驱设备中没有光盘。";

// The main window over fakes, shown as program start shows it.
struct MainWindow {
    explicit MainWindow(FakeOsOperations fakeOs)
        : os(std::move(fakeOs))
    {
        form.Show();
    }

    FakeWindow& window() { return static_cast<FakeWindow&>(form.window()); }
    testing::FakeLabel& status() { return window().fakeLabel("CDROMstatus"); }
    testing::FakeDropDownList& selector() { return window().fakeList("Combox"); }
    testing::FakeTimer& timer() { return window().fakeTimer("Timer1"); }

    FakeOsOperations os;
    FakeWindowRuntime runtime;
    ctlCdrom drives{os};
    frmMain form{runtime, drives, os};
};

TEST(frmMain, LoadsWithTwoDrivesAndADataDiscInTheFirst)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    os.discs = {u"D:\\"};
    MainWindow main(std::move(os));
    FakeWindow& window = main.window();

    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.caption, u"Trayvo2010");
    EXPECT_EQ(window.fakeLabel("numofCDROM").caption, u"2个");
    EXPECT_EQ(main.selector().items, (std::vector<Text>{u"D:\\", u"F:\\"}));
    EXPECT_EQ(main.selector().selectedIndex(), 0);
    EXPECT_EQ(main.status().caption, present);
    EXPECT_EQ(window.fakeLabel("Label7").color, 0x00D39F14u);
    for (auto button : {"Command1", "Command2", "Command3"})
        EXPECT_TRUE(window.fakeButton(button).enabled) << button;
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.os.probed, std::vector<DriveRoot>{u"D:\\"});
    EXPECT_TRUE(main.runtime.errorsShown.empty());
}

TEST(frmMain, NoDriveDisablesTheButtonsAndNeverWatches)
{
    MainWindow main(FakeOsOperations::withCdroms({}));
    FakeWindow& window = main.window();

    EXPECT_EQ(window.fakeLabel("numofCDROM").caption, u"0个");
    EXPECT_TRUE(main.selector().items.empty());
    EXPECT_EQ(main.status().caption, u"程序发现，当前计算机\r\n没有可用的光驱设备。");
    for (auto button : {"Command1", "Command2", "Command3"})
        EXPECT_FALSE(window.fakeButton(button).enabled) << button;
    for (int i = 0; i < 5; ++i)
        main.timer().elapse();
    EXPECT_EQ(main.timer().ticks, 0);
    EXPECT_TRUE(main.os.probed.empty());
}

TEST(frmMain, StatusLineIsWrittenOnlyWhenTheDiscStateChanges)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\"});
    MainWindow main(std::move(os));
    auto& status = main.status();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 1);

    main.timer().elapse();
    main.timer().elapse();
    EXPECT_EQ(status.captionWrites, 1);

    main.os.discs = {u"D:\\"};
    main.timer().elapse();
    EXPECT_EQ(status.caption, present);
    EXPECT_EQ(status.captionWrites, 2);
    main.timer().elapse();
    EXPECT_EQ(status.captionWrites, 2);

    main.os.discs.clear();
    main.timer().elapse();
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 3);
}

TEST(frmMain, AChangedSelectionIsPickedUpAtTheNextTick)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"E:\\", u"F:\\"});
    os.discs = {u"D:\\", u"E:\\"};
    MainWindow main(std::move(os));
    auto& status = main.status();

    // Same state as shown: nothing to write, now or at the tick.
    main.selector().setSelectedIndex(1);
    main.timer().elapse();
    EXPECT_EQ(main.os.probed.back(), u"E:\\");
    EXPECT_EQ(status.captionWrites, 1);

    main.selector().setSelectedIndex(2);
    EXPECT_EQ(status.captionWrites, 1);
    main.timer().elapse();
    EXPECT_EQ(main.os.probed.back(), u"F:\\");
    EXPECT_EQ(status.caption, absent);
    EXPECT_EQ(status.captionWrites, 2);
}

TEST(frmMain, AnErrorInTheTickShowsOneMessageAndTheWatchGoesOn)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\"});
    MainWindow main(std::move(os));
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
    EXPECT_TRUE(timer.enabled());
}

TEST(frmMain, TrayButtonsPauseTheWatchAndShowTheHourglassThroughout)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\", u"E:\\"}));
    std::vector<std::pair<bool, MousePointer>> seen; // at each command: timer running, pointer
    main.os.duringAction = [&] { seen.emplace_back(main.timer().enabled(), main.window().pointer); };
    main.selector().setSelectedIndex(1);
    const int intervalsBefore = main.timer().freshIntervals;

    main.window().fakeButton("Command1").click();
    main.window().fakeButton("Command2").click();
    ASSERT_EQ(main.os.mciCommands.size(), 6u);
    EXPECT_EQ(main.os.mciCommands[0], u"open E:\\ type CDAudio alias nowCD wait");
    EXPECT_EQ(main.os.mciCommands[4], u"set nowCD door closed wait");
    EXPECT_EQ(seen, (std::vector<std::pair<bool, MousePointer>>(6, {false, MousePointer::Hourglass})));
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.timer().freshIntervals, intervalsBefore + 2); // each restart waits a full interval
    EXPECT_EQ(main.window().pointer, MousePointer::Default);

    // Restored even when the action fails.
    main.os.actionFailure = "驱动器忙";
    main.window().fakeButton("Command1").click();
    EXPECT_TRUE(main.timer().enabled());
    EXPECT_EQ(main.window().pointer, MousePointer::Default);
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"驱动器忙"});
}

TEST(frmMain, FolderButtonKeepsTheWatchAndReportsAFolderThatCannotOpen)
{
    MainWindow main(FakeOsOperations::withCdroms({u"D:\\", u"F:\\"}));
    std::vector<std::pair<bool, MousePointer>> seen;
    main.os.duringAction = [&] { seen.emplace_back(main.timer().enabled(), main.window().pointer); };
    main.selector().setSelectedIndex(1);

    main.window().fakeButton("Command3").click();
    ASSERT_EQ(main.os.started.size(), 1u);
    EXPECT_EQ(main.os.started[0].first, u"explorer.exe F:\\");
    EXPECT_EQ(seen, (std::vector<std::pair<bool, MousePointer>>{{true, MousePointer::Hourglass}}));

    main.os.processStarts = false;
    main.window().fakeButton("Command3").click();
    EXPECT_EQ(main.runtime.errorsShown, std::vector<Text>{u"无法打开光驱设备 F:\\ 的目录。"});
    EXPECT_EQ(main.window().pointer, MousePointer::Default);
    EXPECT_TRUE(main.timer().enabled());
}

TEST(frmMain, SoakOfTenThousandTicksWithADiscComingAndGoing)
{
    FakeOsOperations os = FakeOsOperations::withCdroms({u"D:\\", u"F:\\"});
    MainWindow main(std::move(os));
    auto& status = main.status();

    int changes = 0;
    bool inserted = false;
    for (int tick = 1; tick <= 10000; ++tick) {
        if (tick % 7 == 0) {
            inserted = !inserted;
            if (inserted)
                main.os.discs.insert(u"D:\\");
            else
                main.os.discs.erase(u"D:\\");
            ++changes;
        }
        main.os.probed.clear();
        main.timer().elapse();
        ASSERT_EQ(status.caption, inserted ? present : absent) << "tick " << tick;
    }
    EXPECT_EQ(status.captionWrites, 1 + changes);
    EXPECT_EQ(main.timer().ticks, 10000);
    EXPECT_TRUE(main.runtime.errorsShown.empty());
}

} // namespace
} // namespace trayvo
