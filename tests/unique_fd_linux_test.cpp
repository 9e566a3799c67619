#include "platform/unique_fd_linux.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <utility>

namespace trayvo {
namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

int openNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(UniqueFd, ClosesExactlyOnceWhateverWayOwnershipMoves)
{
    EXPECT_FALSE(UniqueFd{}.valid());

    int raw = -1;
    {
        const UniqueFd fd(openNull());
        raw = fd.get();
        ASSERT_TRUE(fd);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw)) << "destructor must close";

    UniqueFd target(openNull());
    const int replaced = target.get();
    {
        UniqueFd source(openNull());
        raw = source.get();
        UniqueFd moved(std::move(source));
        EXPECT_FALSE(source.valid());
        EXPECT_EQ(moved.get(), raw);
        target = std::move(moved);
    }
    EXPECT_FALSE(isOpen(replaced)) << "assignment must close the previous descriptor";
    EXPECT_TRUE(isOpen(raw)) << "moved-from owners must not close";
    EXPECT_EQ(target.get(), raw);

    const int released = target.release();
    EXPECT_FALSE(target.valid());
    target.reset();
    EXPECT_TRUE(isOpen(released)) << "release must hand over without closing";
    ::close(released);
}

} // namespace
} // namespace trayvo
