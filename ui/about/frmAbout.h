#pragma once

#include "platform/os_operations.h"
#include "platform/window_runtime.h"

#include <memory>

namespace trayvo {

// The About window: name, version, a note of thanks and the maker's site.
// Each opening builds it afresh and each close destroys it.
class frmAbout {
public:
    frmAbout(WindowRuntime& runtime, OsOperations& os);

    // Loads the window and shows it modally over owner; returns once it is
    // unloaded.
    void Show(Window& owner);

    // Handlers, run by the runtime inside its error guard.
    void Form_Load();
    void Label4_Click();
    void Command1_Click();

    Window& window() { return *window_; }

private:
    WindowRuntime& runtime_;
    OsOperations& os_;
    std::unique_ptr<Window> window_;
};

} // namespace trayvo
