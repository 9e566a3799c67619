#pragma once

#include "platform/window_runtime.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>

namespace trayvo::testing {

// A user and a window manager at the program's window on a real display.
// What they do reaches the window through the windowing system, as real
// input and real requests, from a thread of their own, so that they can act
// while the window's thread waits for a blocked call. One implementation per
// window runtime.
class Desk {
public:
    virtual ~Desk() = default;

    virtual WindowRuntime& runtime() = 0;

    // On the window's thread, once the window is shown: makes it the active
    // window and learns where its controls and its close button are.
    virtual void learn(Window& window) = 0;
    // On the window's thread: Timer1's interval from now on.
    virtual void setTickInterval(Window& window, int milliseconds) = 0;
    // On the window's thread: runs sample every 10 ms from now on, also
    // while a handler waits, for as long as the desk lives.
    virtual void sampleEvery10ms(std::function<void()> sample) = 0;
    // On the window's thread: runs its loop until done holds, for limit at
    // most; whether it held.
    virtual bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;
    // On the window's thread: runs its loop until the program ends, for
    // limit at most, after which it ends it; whether it ended by itself.
    virtual bool runUntilQuit(std::chrono::milliseconds limit) = 0;
    // On the window's thread: how many of the program's windows are on
    // screen.
    virtual int windowsShown() const = 0;
    // On the window's thread: how many moves of the pointer the main window
    // has taken since learn().
    virtual int pointerMovesTaken() const = 0;

    // From the desk's own thread.
    virtual void click(std::string_view control) = 0;
    enum class Key { Down, Escape };
    // A key, to the window and control that have the focus.
    virtual void press(Key key) = 0;
    // Moves the pointer to and fro over the main window, times moves.
    virtual void movePointer(int times) = 0;
    // Whether the window answers the window manager's "are you alive?"
    // within a second.
    virtual bool answersPing() = 0;
    // Whether the window draws itself again, within a second, after part of
    // it was spoilt.
    virtual bool repaints() = 0;
    // Closes the window as its title bar's close button does.
    virtual void close() = 0;
};

// The desk of the window runtime this test program is built for.
std::unique_ptr<Desk> makeDesk();

} // namespace trayvo::testing
