#pragma once

#include "platform/handler_guard.h"
#include "platform/named_controls.h"
#include "platform/window_runtime.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace trayvo::testing {

// A window runtime that draws nothing and remembers everything: what each
// control was last set to, how often, and the errors the guard showed.
// Clicks and ticks are driven by the test, through the same guard.
class FakeWindowRuntime;

struct FakeLabel final : Label {
    explicit FakeLabel(FakeWindowRuntime& owner) : runtime(owner) {}
    void setCaption(TextView text) override { caption = text; ++captionWrites; }
    void setForeColor(Color value) override { color = value; }
    void onClick(Handler handler) override { clicked = std::move(handler); }
    void click();

    FakeWindowRuntime& runtime;
    Text caption;
    int captionWrites = 0;
    Color color = 0;
    Handler clicked;
};

struct FakeDropDownList final : DropDownList {
    void addItem(TextView text, int index) override;
    int selectedIndex() const override { return selected; }
    void setSelectedIndex(int index) override { selected = index; }
    Text text() const override;

    std::vector<Text> items;
    int selected = -1;
};

struct FakePushButton final : PushButton {
    explicit FakePushButton(FakeWindowRuntime& owner) : runtime(owner) {}
    void setEnabled(bool value) override { enabled = value; }
    void onClick(Handler handler) override { clicked = std::move(handler); }
    void click();

    FakeWindowRuntime& runtime;
    bool enabled = true;
    Handler clicked;
};

struct FakeTimer final : Timer {
    explicit FakeTimer(FakeWindowRuntime& owner) : runtime(owner) {}
    void setEnabled(bool value) override;
    bool enabled() const override { return running; }
    void onTick(Handler handler) override { ticked = std::move(handler); }
    // One interval has passed: ticks when enabled, as a real timer would.
    void elapse();

    FakeWindowRuntime& runtime;
    bool running = false;
    int freshIntervals = 0; // how often an interval started afresh
    int ticks = 0;
    Handler ticked;
};

class FakeWindow final : public Window {
public:
    FakeWindow(const WindowLayout& layout, FakeWindowRuntime& runtime);

    void setCaption(TextView text) override { caption = text; }
    void setMousePointer(MousePointer value) override { pointer = value; }
    Label& label(std::string_view name) override { return fakeLabel(name); }
    DropDownList& dropDownList(std::string_view name) override { return fakeList(name); }
    PushButton& pushButton(std::string_view name) override { return fakeButton(name); }
    Timer& timer(std::string_view name) override { return fakeTimer(name); }
    void show() override { ++shows; }
    void showModal(Window& owner) override;
    void unload() override { unloaded = true; }
    WindowHandle handle() const override { return handleValue; }

    FakeLabel& fakeLabel(std::string_view name);
    FakeDropDownList& fakeList(std::string_view name);
    FakePushButton& fakeButton(std::string_view name);
    FakeTimer& fakeTimer(std::string_view name);

    FakeWindowRuntime& runtime;
    Text caption;
    MousePointer pointer = MousePointer::Default;
    int shows = 0;
    bool unloaded = false;
    Window* modalOwner = nullptr;
    WindowHandle handleValue = 0;

private:
    NamedControls<FakeLabel> labels_;
    NamedControls<FakeDropDownList> lists_;
    NamedControls<FakePushButton> buttons_;
    NamedControls<FakeTimer> timers_;
};

class FakeWindowRuntime final : public WindowRuntime {
public:
    FakeWindowRuntime();

    const AppIdentity& app() const override { return identity; }
    std::unique_ptr<Window> createWindow(const WindowLayout& layout) override;
    void runHandler(const Handler& handler) override { guard.run(handler); }

    AppIdentity identity{.title = u"Trayvo2010", .productName = u"Trayvo2010", .major = 3, .minor = 1};
    std::map<std::string, int, std::less<>> windowsCreated; // by layout name
    // Runs while a window is shown modally, as the user would act then; the
    // window must be unloaded by the time it returns.
    std::function<void(FakeWindow&)> whileModal;
    std::vector<Text> errorsShown;
    Handler whileErrorShown; // runs inside the error message, as the toolkit's loop would
    HandlerGuard guard;
};

} // namespace trayvo::testing
