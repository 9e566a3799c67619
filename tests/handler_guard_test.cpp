#include "platform/handler_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace trayvo {
namespace {

// Ticks come again; a notice of changed drives does not, so it runs under
// the message, and its own fault adds no second one. A message that cannot
// be shown lets the program go on all the same.
TEST(HandlerGuard, ShowsOneMessageForAFaultAndDropsHandlersButNotNoticesMeanwhile)
{
    int ticks = 0;
    int notices = 0;
    std::vector<Text> shown;
    HandlerGuard* self = nullptr;
    HandlerGuard guard([&](TextView message) {
        shown.emplace_back(message);
        // A second message over the first would come up again from inside
        // its own loop, without end: stop at the first one that gets through.
        if (shown.size() > 1)
            return;
        // The message box's own loop keeps delivering ticks, some failing.
        for (int i = 0; i < 5; ++i) {
            self->runTick([&] { ++ticks; });
            self->run([] { throw std::runtime_error("again"); });
            self->runNotice([&] { ++notices; });
            self->runNotice([] { throw std::runtime_error("again"); });
        }
    });
    self = &guard;

    guard.run([] { throw std::runtime_error("无法打开"); });
    EXPECT_EQ(shown, std::vector<Text>{u"无法打开"}) << "a second message came up while the first was showing";
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(notices, 5);

    guard.run([&] { ++ticks; });
    EXPECT_EQ(ticks, 1);
    guard.runNotice([] { throw 42; });
    EXPECT_EQ(shown, (std::vector<Text>{u"无法打开", u"未知错误"}));

    HandlerGuard mute([](TextView) { throw std::runtime_error("no display"); });
    EXPECT_NO_THROW(mute.run([] { throw std::runtime_error("fault"); }));
    mute.run([&] { ++ticks; });
    EXPECT_EQ(ticks, 2);
}

// Qt fires no timer again while its own tick waits; Windows does, and a tick
// that waits holds nothing back from a modal window's loop afterwards.
TEST(HandlerGuard, WhileAHandlerWaitsTicksAreDroppedAndTheRestRunsAfterItOnce)
{
    std::vector<std::string> ran;
    HandlerGuard guard([&](TextView) { ran.emplace_back("message"); });
    const Handler click = [&] {
        ran.emplace_back("click");
        // Waiting in its turn, it holds back what comes meanwhile as well.
        const HandlerGuard::Wait wait(guard);
        guard.run([&] { ran.emplace_back("late click"); });
    };

    guard.run([&] {
        {
            const HandlerGuard::Wait wait(guard);
            guard.runTick([&] { ran.emplace_back("tick"); });
            guard.run(click);
        }
        ran.emplace_back("action done");
        guard.runTick([&] { ran.emplace_back("tick in modal loop"); });
    });

    EXPECT_EQ(ran, (std::vector<std::string>{"action done", "tick in modal loop", "click", "late click"}));
}

// A tick that waits inside a modal window's loop (About open) holds back a
// notice only until the tick has ended, not until About closes; notices held
// together are heard once; and one held while the guard's message is up is
// heard too, under the message.
TEST(HandlerGuard, ANoticeHeldByAWaitIsHeardOnceWhenTheWaitingHandlerEnds)
{
    std::vector<std::string> ran;
    HandlerGuard* self = nullptr;
    const Handler notice = [&] { ran.emplace_back("notice"); };
    const Handler waitingTick = [&] {
        const HandlerGuard::Wait wait(*self);
        EXPECT_THROW(HandlerGuard::Wait{*self}, std::logic_error) << "a wait inside a wait";
        self->runNotice(notice);
        self->runNotice(notice);
        ran.emplace_back("tick done");
    };
    HandlerGuard guard([&](TextView) {
        ran.emplace_back("message up");
        self->runNotice(waitingTick);
        ran.emplace_back("message closed");
    });
    self = &guard;

    guard.run([&] {
        ran.emplace_back("about open");
        guard.runTick(waitingTick);
        ran.emplace_back("about closed");
    });
    guard.run([] { throw std::runtime_error("无法打开"); });

    EXPECT_EQ(ran, (std::vector<std::string>{"about open", "tick done", "notice", "about closed", "message up",
                                             "tick done", "notice", "message closed"}));
}

TEST(HandlerGuard, NothingRunsOnceTheProgramEndsDuringAWait)
{
    std::vector<std::string> ran;
    HandlerGuard guard([&](TextView) { ran.emplace_back("message"); });

    guard.run([&] {
        const HandlerGuard::Wait wait(guard);
        guard.run([&] { ran.emplace_back("click"); });
        throw ProgramEnding();
    });
    guard.run([&] { ran.emplace_back("later"); });
    guard.runTick([&] { ran.emplace_back("tick"); });

    EXPECT_TRUE(ran.empty());
}

} // namespace
} // namespace trayvo
