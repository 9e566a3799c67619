#pragma once

#include <unistd.h>

#include <utility>

namespace trayvo {

// Sole owner of a file descriptor; closes it when it goes out of scope, so no
// early return can leak a descriptor to a device node.
class UniqueFd {
public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}

    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Gives up ownership without closing.
    [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }

    // Closes the held descriptor, if any, and takes fd instead. Self-reset is
    // harmless: the descriptor is not closed when it is the one being kept.
    void reset(int fd = -1) noexcept
    {
        const int old = std::exchange(fd_, fd);
        if (old >= 0 && old != fd)
            ::close(old);
    }

private:
    int fd_ = -1;
};

} // namespace trayvo
