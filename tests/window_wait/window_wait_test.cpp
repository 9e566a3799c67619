// The window's wait for a blocked call, on a real display: the drives are
// fakes whose answers the test holds back at a gate, everything else is the
// program's own, and the user and the window manager act through the
// windowing system from a thread of their own (Desk).

#include "drives/ctlCdrom.h"
#include "platform/off_thread_os_operations.h"
#include "tests/fakes/fake_os_operations.h"
#include "tests/fakes/gate.h"
#include "tests/window_wait/desk.h"
#include "ui/main/frmMain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace trayvo {
namespace {

using namespace std::chrono_literals;
using testing::FakeOsOperations;
using testing::Gate;

// The main window as the program wires it, over drives D: with a disc and
// E: without.
struct HeldBackDrives {
    explicit HeldBackDrives(std::shared_ptr<Gate> drivesGate)
        : gate(std::move(drivesGate))
    {
        os->discs = {u"D:\\"};
        os->duringProbe = [this] { loadProbedOn = std::this_thread::get_id(); };
        form.Show();
        os->duringProbe = nullptr;
        desk->learn(form.window());
    }

    // What the desk does, on the desk's thread; joined by the test.
    void act(std::function<void()> script)
    {
        desk_ = std::jthread([this, script = std::move(script)] {
            script();
            done = true;
        });
    }

    std::unique_ptr<testing::Desk> desk = testing::makeDesk();
    std::shared_ptr<Gate> gate;
    std::shared_ptr<FakeOsOperations> os =
        std::make_shared<FakeOsOperations>(FakeOsOperations::withCdroms({u"D:\\", u"E:\\"}));
    OffThreadOsOperations offThread{desk->runtime(), os};
    ctlCdrom drives{offThread};
    frmMain form{desk->runtime(), drives, offThread};
    std::atomic<bool> done{false};
    std::thread::id loadProbedOn;

    // What the desk saw may be read after this.
    void join()
    {
        if (desk_.joinable())
            desk_.join();
    }

private:
    std::jthread desk_;
};

const std::vector<std::u16string> openThenClose{
    u"open D:\\ type CDAudio alias nowCD wait", u"set nowCD door open wait", u"close nowCD",
    u"open D:\\ type CDAudio alias nowCD wait", u"set nowCD door closed wait", u"close nowCD"};

TEST(AWaitingWindow, PaintsAndAnswersWhileTheTrayHangsAndTakesAClickAfterIt)
{
    HeldBackDrives main(std::make_shared<Gate>());
    main.os->duringAction = [gate = main.gate] { gate->pass(); };
    bool answered = false;
    bool painted = false;
    int commandsWhileHeld = 0;
    main.act([&] {
        main.desk->click("Command1");
        if (!main.gate->waitReached())
            return;
        answered = main.desk->answersPing();
        painted = main.desk->repaints();
        main.desk->click("Command2");
        std::this_thread::sleep_for(300ms);
        commandsWhileHeld = main.gate->timesReached();
        main.gate->release();
    });

    EXPECT_TRUE(main.desk->runUntil([&] { return main.done && main.os->mciCommands.size() >= 6; }, Gate::limit))
        << "the click held during the tray action never ran";
    main.join();
    EXPECT_TRUE(answered) << "no answer to the window manager's ping during the wait";
    EXPECT_TRUE(painted) << "not drawn again during the wait";
    EXPECT_EQ(commandsWhileHeld, 1) << "the held click ran inside the wait";
    EXPECT_EQ(main.os->mciCommands, openThenClose) << "the held click ran other than once, after the wait";
}

// The ticks that fall due during a slow probe are dropped, and the pointer's
// moves too: out of date once it is over, and a drive that hangs lets them
// come by the thousand. A key pressed meanwhile is taken after it.
TEST(AWaitingWindow, DropsTicksAndPointerMovesDuringASlowProbeAndTakesTheNewSelectionAfterIt)
{
    HeldBackDrives main(std::make_shared<Gate>());
    Window& window = main.form.window();
    const DropDownList& combox = window.dropDownList("Combox");
    std::atomic<bool> released{false};
    std::atomic<bool> slowDown{false};
    std::atomic<bool> slowedDown{false};
    std::vector<int> selectionWhileHeld;
    int movesBeforeRelease = -1;
    int probesWhileHeld = 0;
    // On the window's thread, inside the wait as well.
    main.desk->sampleEvery10ms([&] {
        if (main.gate->timesReached() > 0 && !released) {
            selectionWhileHeld.push_back(combox.selectedIndex());
            movesBeforeRelease = main.desk->pointerMovesTaken();
        }
        // With the next tick far away, none of those that fell due during
        // the wait may follow it.
        if (slowDown && !slowedDown) {
            main.desk->setTickInterval(window, 60000);
            slowedDown = true;
        }
    });
    main.os->duringProbe = [gate = main.gate] { gate->pass(); };
    main.desk->setTickInterval(window, 20);
    main.act([&] {
        if (!main.gate->waitReached())
            return;
        main.desk->press(testing::Desk::Key::Down); // the selector has the focus: E:
        main.desk->movePointer(300);
        std::this_thread::sleep_for(300ms);
        slowDown = true;
        testing::becomesTrue([&] { return slowedDown.load(); });
        probesWhileHeld = main.gate->timesReached();
        released = true;
        main.gate->release();
    });

    EXPECT_TRUE(main.desk->runUntil([&] { return main.done && combox.selectedIndex() == 1; }, Gate::limit))
        << "the key pressed during the probe was not taken after it";
    main.desk->runUntil([] { return false; }, 300ms); // time for probes and moves that must not come
    main.join();
    EXPECT_EQ(probesWhileHeld, 1);
    EXPECT_EQ(main.gate->timesReached(), 1) << "ticks that fell due during the probe ran after it";
    EXPECT_FALSE(selectionWhileHeld.empty()) << "the window's thread stood still during the probe";
    EXPECT_EQ(selectionWhileHeld, std::vector<int>(selectionWhileHeld.size(), 0));
    EXPECT_EQ(main.os->probed.back(), u"D:\\");
    // At load the window is not on screen yet, and there is nothing to keep
    // answering: the probe runs on the window's own thread, sparing the start
    // a thread.
    EXPECT_EQ(main.loadProbedOn, std::this_thread::get_id()) << "the load's probe waited for a thread";
    EXPECT_GE(movesBeforeRelease, 0);
    EXPECT_LE(main.desk->pointerMovesTaken() - movesBeforeRelease, 1) << "pointer moves kept for after the probe";
}

// About, open over the main window, is no handler at work: a key the user
// presses in it while a tick's probe waits behind it is taken once the probe
// is over, not once About has closed by some other way.
TEST(AWaitingWindow, TakesAKeyPressedInAboutDuringAProbeOnceItIsOver)
{
    HeldBackDrives main(std::make_shared<Gate>());
    std::atomic<bool> probesHeld{false};
    std::atomic<int> windowsShown{1};
    bool aboutStayedOpen = false;
    main.os->duringProbe = [gate = main.gate, &probesHeld] {
        if (probesHeld)
            gate->pass();
    };
    // On the window's thread, inside About's loop and the wait as well.
    main.desk->sampleEvery10ms([&] { windowsShown = main.desk->windowsShown(); });
    main.desk->setTickInterval(main.form.window(), 50);
    main.act([&] {
        main.desk->click("Label7");
        if (!testing::becomesTrue([&] { return windowsShown == 2; }))
            return;
        probesHeld = true;
        if (!main.gate->waitReached())
            return;
        main.desk->press(testing::Desk::Key::Escape);
        std::this_thread::sleep_for(300ms);
        probesHeld = false;
        main.gate->release();
        aboutStayedOpen = !testing::becomesTrue([&] { return windowsShown == 1; });
        // Closed now, so that the test ends either way.
        if (aboutStayedOpen)
            main.desk->press(testing::Desk::Key::Escape);
    });

    EXPECT_TRUE(main.desk->runUntil([&] { return main.done.load(); }, 3 * Gate::limit))
        << "About never opened, or no probe came while it was open";
    main.join();
    EXPECT_EQ(main.gate->timesReached(), 1);
    EXPECT_FALSE(aboutStayedOpen) << "Esc pressed in About during a probe was not taken after it";
}

TEST(AWaitingWindow, ClosedDuringACallThatNeverReturnsTheProgramEndsAtOnce)
{
    const auto gate = std::make_shared<Gate>();
    std::weak_ptr<FakeOsOperations> operations;
    const auto began = std::chrono::steady_clock::now();
    {
        HeldBackDrives main(gate);
        main.os->duringAction = [gate] { gate->pass(); };
        operations = main.os;
        main.act([&] {
            main.desk->click("Command1");
            if (main.gate->waitReached())
                main.desk->close();
        });
        EXPECT_TRUE(main.desk->runUntilQuit(Gate::limit)) << "closing the window did not end the program";
    }
    // The window, the runtime and its worker are gone; the call is not.
    EXPECT_LT(std::chrono::steady_clock::now() - began, Gate::limit) << "the end waited for the blocked call";
    EXPECT_FALSE(operations.expired());
    EXPECT_EQ(gate->timesReached(), 1);
    gate->release();
    const auto until = std::chrono::steady_clock::now() + Gate::limit;
    while (!operations.expired() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(operations.expired()) << "the blocked call's thread kept what it holds once it returned";
    // Given up at its first command: nothing more was sent.
    EXPECT_EQ(gate->timesReached(), 1);
}

} // namespace
} // namespace trayvo
