#pragma once

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace trayvo {

// How long the window's thread keeps asking whether a call has ended before
// it goes to sleep until woken. A drive with a disc answers a probe within a
// millisecond or two, even on a slow machine; picked up while spinning, the
// answer costs the window's thread no second wakeup a tick. A slow drive
// costs the spin once a tick: half a percent of one processor.
inline constexpr std::chrono::microseconds quickCallSpin{5000};

// How the worker tells the window's thread that a call has ended: an eventfd
// on Linux, an event object on Windows. It belongs to the worker's state,
// which a call still blocked when the program ends keeps alive.
class WakeSignal {
public:
    virtual ~WakeSignal() = default;
    // Wakes the window's thread; called on the worker.
    virtual void raise() = 0;
};

// One thread that runs blocking calls, one at a time, for the window's
// thread. It starts with the first call and sleeps between calls.
//
// Hand-over: the window's thread owns a call and everything it touches until
// start(); the worker owns them until the call has ended; ended() returning
// true hands them back (the worker's writes are then visible). A call whose
// end may never be waited for must own what it touches (shared_ptr), since
// the window may be gone when it returns.
class CallWorker {
public:
    explicit CallWorker(std::shared_ptr<WakeSignal> wake);
    // Joins the worker when it is idle. A worker still blocked in a call, a
    // drive that does not answer, is left running on its own: joining it
    // would hold the program's end for as long as the drive does.
    ~CallWorker();
    CallWorker(const CallWorker&) = delete;
    CallWorker& operator=(const CallWorker&) = delete;

    // Hands call to the worker. Only one call at a time: the previous one
    // must have ended.
    void start(std::function<void()> call);

    // Whether the call has ended, asking again for up to spin before saying
    // no.
    bool ended(std::chrono::microseconds spin = {}) const;

    // From now on the end of the call raises the wake signal; false when the
    // call has ended already, and no signal comes.
    bool wakeWhenEnded();

    // Takes the ended call's outcome: rethrows what it threw.
    void finish();

private:
    struct State;
    static void serve(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace trayvo
