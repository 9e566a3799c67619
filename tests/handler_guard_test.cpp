#include "platform/handler_guard.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace trayvo {
namespace {

TEST(HandlerGuard, ShowsWhatEscapesAHandlerAndGoesOn)
{
    std::vector<Text> shown;
    HandlerGuard guard([&](TextView message) { shown.emplace_back(message); });

    guard.run([] { throw std::runtime_error("无法打开"); });
    guard.run([] { throw 42; });
    int ran = 0;
    guard.run([&] { ++ran; });
    guard.run(Handler{});

    EXPECT_EQ(shown, (std::vector<Text>{u"无法打开", u"未知错误"}));
    EXPECT_EQ(ran, 1);
}

// Ticks come again; a notice of changed drives does not, so it runs under
// the message, and its own fault adds no second one.
TEST(HandlerGuard, DropsHandlersWhileItsMessageIsUpButNotNotices)
{
    int ticks = 0;
    int notices = 0;
    int messages = 0;
    int messagesUp = 0;
    HandlerGuard* self = nullptr;
    HandlerGuard guard([&](TextView) {
        ++messages;
        // A second message over the first would come up again from inside
        // its own loop, without end: stop at the first one that gets through.
        if (messagesUp > 0) {
            ADD_FAILURE() << "a second message came up while the first was showing";
            return;
        }
        ++messagesUp;
        // The message box's own loop keeps delivering ticks, some failing.
        for (int i = 0; i < 5; ++i) {
            self->run([&] { ++ticks; });
            self->run([] { throw std::runtime_error("again"); });
            self->runNotice([&] { ++notices; });
            self->runNotice([] { throw std::runtime_error("again"); });
        }
        --messagesUp;
    });
    self = &guard;

    guard.run([] { throw std::runtime_error("first"); });
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(notices, 5);
    EXPECT_FALSE(guard.showingError());

    guard.run([&] { ++ticks; });
    EXPECT_EQ(ticks, 1);
    guard.runNotice([] { throw std::runtime_error("notice"); });
    EXPECT_EQ(messages, 2);
}

TEST(HandlerGuard, AFailingMessageDoesNotEscape)
{
    HandlerGuard guard([](TextView) { throw std::runtime_error("no display"); });
    EXPECT_NO_THROW(guard.run([] { throw std::runtime_error("fault"); }));
    EXPECT_FALSE(guard.showingError());
}

} // namespace
} // namespace trayvo
