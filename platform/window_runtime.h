#pragma once

#include "platform/os_operations.h"
#include "platform/window_layout.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace trayvo {

using Text = std::u16string;
using TextView = std::u16string_view;
using Handler = std::function<void()>;
// A call that may block for long: a drive that does not answer, a service
// that hangs. It runs on another thread, and owns everything it touches.
using BlockingCall = std::function<void()>;

// Thrown out of WindowRuntime::waitFor when the program ends during the wait:
// its last window was closed. The handler guard ends the handler silently.
class ProgramEnding final {};

// A number as decimal text, without a leading blank.
inline Text decimalText(int value)
{
    const std::string digits = std::to_string(value);
    return Text(digits.begin(), digits.end());
}

enum class MousePointer { Default = 0, Hourglass = 11 };

// Who the program is, as the application object tells it.
struct AppIdentity {
    TextView title;
    TextView productName;
    int major = 0;
    int minor = 0;
    int revision = 0;
};

class Label {
public:
    virtual ~Label() = default;
    // CR LF in caption breaks the line.
    virtual void setCaption(TextView caption) = 0;
    virtual void setForeColor(Color color) = 0;
    // handler runs on each click, inside the runtime's error guard.
    virtual void onClick(Handler handler) = 0;
};

// A drop-down list the user chooses from but cannot type into.
class DropDownList {
public:
    virtual ~DropDownList() = default;
    virtual void addItem(TextView text, int index) = 0;
    // Removes every item; nothing is selected afterwards.
    virtual void clear() = 0;
    // -1 while nothing is selected.
    virtual int selectedIndex() const = 0;
    virtual void setSelectedIndex(int index) = 0;
    // The selected item's text; empty while nothing is selected.
    virtual Text text() const = 0;
};

class PushButton {
public:
    virtual ~PushButton() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual void onClick(Handler handler) = 0;
};

class Timer {
public:
    virtual ~Timer() = default;
    // false stops it; true after false starts a fresh interval; true while
    // running changes nothing.
    virtual void setEnabled(bool enabled) = 0;
    // handler runs once per interval while enabled, inside the error guard.
    virtual void onTick(Handler handler) = 0;
};

// A window built from its stored layout. Controls are found by their layout
// name; asking for a name the layout lacks, or for the wrong kind, throws
// std::logic_error.
class Window {
public:
    virtual ~Window() = default;
    virtual void setCaption(TextView caption) = 0;
    virtual void setMousePointer(MousePointer pointer) = 0;
    virtual Label& label(std::string_view name) = 0;
    virtual DropDownList& dropDownList(std::string_view name) = 0;
    virtual PushButton& pushButton(std::string_view name) = 0;
    virtual Timer& timer(std::string_view name) = 0;
    // handler runs, inside the error guard, soon after the system reports a
    // drive attached or removed; several reports close together may come as
    // one. Nothing is reported that happened before the window was made.
    virtual void onDrivesChanged(Handler handler) = 0;
    // handler runs, inside the error guard, when the user presses the
    // desktop's key for help (F1) while this window takes input.
    virtual void onHelpKey(Handler handler) = 0;
    // Shows the window modelessly, at its start position the first time.
    virtual void show() = 0;
    // Shows the window over owner, which takes no input meanwhile; returns
    // once the window is unloaded, by unload() or by any way the user closes
    // it. The window is destroyed then, never merely hidden.
    virtual void showModal(Window& owner) = 0;
    virtual void unload() = 0;
    virtual WindowHandle handle() const = 0;
};

// The toolkit behind the windows: builds them and runs their handlers.
class WindowRuntime {
public:
    virtual ~WindowRuntime() = default;
    virtual const AppIdentity& app() const = 0;
    virtual std::unique_ptr<Window> createWindow(const WindowLayout& layout) = 0;
    // Runs handler inside the error guard; what escapes it is shown, not thrown.
    virtual void runHandler(const Handler& handler) = 0;
    // Runs call on another thread and returns when it has ended, rethrowing
    // what it threw. Meanwhile the windows keep painting, moving and
    // answering the window system, user input waits until the running
    // handler has ended, ticks are dropped and other handlers run after it
    // (see HandlerGuard). When the last window is closed meanwhile, throws
    // ProgramEnding at once and leaves the call to end on its own. Before
    // any window is shown, the call runs on this thread: there is nothing on
    // screen to keep running yet.
    virtual void waitFor(BlockingCall call) = 0;
};

} // namespace trayvo
