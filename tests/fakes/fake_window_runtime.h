#pragma once

#include "platform/handler_guard.h"
#include "platform/named_controls.h"
#include "platform/window_runtime.h"

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace trayvo::testing {

// A window runtime that draws nothing and remembers everything: what each
// control was last set to, how often, and the errors the guard showed.
// Clicks, ticks and drive changes are driven by the test, through the same
// guard.

// Any control of a fake window: each kind's operations act on these fields.
struct FakeControl final : Label, DropDownList, PushButton, Timer {
    FakeControl(HandlerGuard& runner, const ControlLayout& layout)
        : guard(runner)
        , caption(layout.text)
        , on(layout.kind != ControlKind::Timer)
    {
    }
    void setCaption(TextView text) override
    {
        caption = text;
        ++captionWrites;
    }
    void setForeColor(Color) override {}
    void addItem(TextView text, int index) override { items.insert(items.begin() + index, Text(text)); }
    void clear() override
    {
        items.clear();
        selected = -1;
    }
    int selectedIndex() const override { return selected; }
    void setSelectedIndex(int index) override { selected = index; }
    Text text() const override { return selected < 0 ? Text() : items.at(static_cast<std::size_t>(selected)); }
    void setEnabled(bool value) override
    {
        if (value && !on)
            ++freshIntervals;
        on = value;
    }
    bool enabled() const { return on; }
    void onClick(Handler handler) override { handler_ = std::move(handler); }
    void onTick(Handler handler) override { handler_ = std::move(handler); }
    // A click, or one interval of a timer passing: heard only while enabled.
    void click()
    {
        if (on)
            guard.run(handler_);
    }
    void elapse()
    {
        if (on)
            guard.runTick(handler_);
    }

    HandlerGuard& guard;
    Text caption;
    int captionWrites = 0;
    std::vector<Text> items;
    int selected = -1;
    bool on;
    int freshIntervals = 0; // how often a timer's interval started afresh

private:
    Handler handler_;
};

class FakeWindow final : public Window {
public:
    // whileModal runs while the window is shown modally, as the user would
    // act then; the window must be unloaded by the time it returns.
    FakeWindow(const WindowLayout& layout, HandlerGuard& guard, const std::function<void(FakeWindow&)>& whileModal)
        : caption(layout.caption)
        , guard_(guard)
        , whileModal_(whileModal)
    {
        for (const ControlLayout& control : layout.controls)
            controls_[std::string(control.name)] = std::make_unique<FakeControl>(guard, control);
    }

    void setCaption(TextView text) override { caption = text; }
    void setMousePointer(MousePointer value) override { pointer = value; }
    Label& label(std::string_view name) override { return control(name); }
    DropDownList& dropDownList(std::string_view name) override { return control(name); }
    PushButton& pushButton(std::string_view name) override { return control(name); }
    Timer& timer(std::string_view name) override { return control(name); }
    void onDrivesChanged(Handler handler) override { drivesChanged_ = std::move(handler); }
    void onHelpKey(Handler handler) override { helpKey_ = std::move(handler); }
    void show() override { ++shows; }
    void showModal(Window& owner) override
    {
        modalOwner = &owner;
        if (whileModal_)
            whileModal_(*this);
        if (!unloaded)
            throw std::logic_error("a modal window was left open");
    }
    void unload() override { unloaded = true; }
    WindowHandle handle() const override { return reinterpret_cast<WindowHandle>(this); }

    FakeControl& control(std::string_view name) { return findControl(controls_, name); }
    // The system reporting a drive attached or removed.
    void drivesChanged() { guard_.runNotice(drivesChanged_); }
    void pressHelpKey() { guard_.run(helpKey_); }

    Text caption;
    MousePointer pointer = MousePointer::Default;
    int shows = 0;
    bool unloaded = false;
    Window* modalOwner = nullptr;

private:
    HandlerGuard& guard_;
    const std::function<void(FakeWindow&)>& whileModal_;
    Handler drivesChanged_;
    Handler helpKey_;
    NamedControls<FakeControl> controls_;
};

class FakeWindowRuntime final : public WindowRuntime {
public:
    const AppIdentity& app() const override { return identity; }
    std::unique_ptr<Window> createWindow(const WindowLayout& layout) override
    {
        ++windowsCreated[std::string(layout.name)];
        return std::make_unique<FakeWindow>(layout, guard, whileModal);
    }
    void runHandler(const Handler& handler) override { guard.run(handler); }
    // The call runs at once, on this thread; whileWaiting stands for what the
    // window's loop delivers meanwhile.
    void waitFor(BlockingCall call) override
    {
        const HandlerGuard::Wait wait(guard);
        ++waits;
        call();
        if (whileWaiting)
            whileWaiting();
    }

    AppIdentity identity{.title = u"Trayvo2010", .productName = u"Trayvo2010", .major = 3, .minor = 1};
    std::map<std::string, int, std::less<>> windowsCreated; // by layout name
    std::function<void(FakeWindow&)> whileModal;           // for each window shown modally
    std::vector<Text> errorsShown;
    Handler whileWaiting;    // runs inside each wait for a blocking call
    int waits = 0;
    HandlerGuard guard{[this](TextView message) { errorsShown.emplace_back(message); }};
};

} // namespace trayvo::testing
