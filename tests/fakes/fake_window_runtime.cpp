#include "tests/fakes/fake_window_runtime.h"

#include <stdexcept>

namespace trayvo::testing {
void FakeLabel::click()
{
    runtime.runHandler(clicked);
}

void FakeDropDownList::addItem(TextView text, int index)
{
    items.insert(items.begin() + index, Text(text));
}

Text FakeDropDownList::text() const
{
    return selected < 0 ? Text() : items.at(static_cast<std::size_t>(selected));
}

void FakePushButton::click()
{
    if (enabled)
        runtime.runHandler(clicked);
}

void FakeTimer::setEnabled(bool value)
{
    if (value && !running)
        ++freshIntervals;
    running = value;
}

void FakeTimer::elapse()
{
    if (!running)
        return;
    ++ticks;
    runtime.runHandler(ticked);
}

FakeWindow::FakeWindow(const WindowLayout& layout, FakeWindowRuntime& owner)
    : runtime(owner)
    , caption(layout.caption)
    , handleValue(static_cast<WindowHandle>(0x1000 + owner.windowsCreated[std::string(layout.name)]++))
{
    for (const ControlLayout& control : layout.controls) {
        const std::string name(control.name);
        switch (control.kind) {
        case ControlKind::Label:
            labels_[name] = std::make_unique<FakeLabel>(owner);
            labels_[name]->caption = control.text;
            break;
        case ControlKind::DropDownList: lists_[name] = std::make_unique<FakeDropDownList>(); break;
        case ControlKind::PushButton: buttons_[name] = std::make_unique<FakePushButton>(owner); break;
        case ControlKind::Timer: timers_[name] = std::make_unique<FakeTimer>(owner); break;
        case ControlKind::Frame:
        case ControlKind::Line:
        case ControlKind::Image: break;
        }
    }
}

void FakeWindow::showModal(Window& owner)
{
    modalOwner = &owner;
    if (runtime.whileModal)
        runtime.whileModal(*this);
    if (!unloaded)
        throw std::logic_error("a modal window was left open");
}

FakeLabel& FakeWindow::fakeLabel(std::string_view name) { return findControl(labels_, name); }
FakeDropDownList& FakeWindow::fakeList(std::string_view name) { return findControl(lists_, name); }
FakePushButton& FakeWindow::fakeButton(std::string_view name) { return findControl(buttons_, name); }
FakeTimer& FakeWindow::fakeTimer(std::string_view name) { return findControl(timers_, name); }

FakeWindowRuntime::FakeWindowRuntime()
    : guard([this](TextView message) {
        errorsShown.emplace_back(message);
        if (whileErrorShown)
            whileErrorShown();
    })
{
}

std::unique_ptr<Window> FakeWindowRuntime::createWindow(const WindowLayout& layout)
{
    return std::make_unique<FakeWindow>(layout, *this);
}

} // namespace trayvo::testing
