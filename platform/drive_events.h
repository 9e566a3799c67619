#pragma once

namespace trayvo {

// Where the operating system reports drives attached and removed, as a
// descriptor that a window runtime's event loop waits on: the program reads
// nothing, and wakes for nothing, until it becomes readable.
class DriveEventSource {
public:
    virtual ~DriveEventSource() = default;
    // Readable while reports wait; the same descriptor for the source's life.
    virtual int descriptor() const = 0;
    // Reads every waiting report without blocking; true when any of them
    // told of a drive attached or removed.
    virtual bool drain() = 0;

protected:
    DriveEventSource() = default;
    DriveEventSource(const DriveEventSource&) = default;
    DriveEventSource& operator=(const DriveEventSource&) = default;
};

} // namespace trayvo
