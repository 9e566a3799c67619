#pragma once

#include "platform/handler_guard.h"
#include "platform/layout_rules.h"
#include "platform/named_controls.h"
#include "platform/qt/controls_qt.h"
#include "platform/window_runtime.h"

#include <QEventLoop>
#include <QWidget>

class QTimer;

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace trayvo {

// A window of the Qt adapter: a top-level widget with its controls placed at
// their stored positions, scaled from twips to the screen. Its controls run
// their handlers through guard.
class QtWindow final : public Window {
public:
    QtWindow(const WindowLayout& layout, HandlerGuard& guard);
    ~QtWindow() override;

    void setCaption(TextView caption) override;
    void setMousePointer(MousePointer pointer) override;
    Label& label(std::string_view name) override;
    DropDownList& dropDownList(std::string_view name) override;
    PushButton& pushButton(std::string_view name) override;
    Timer& timer(std::string_view name) override;
    void onDrivesChanged(Handler handler) override;
    void onHelpKey(Handler handler) override;
    void show() override;
    void showModal(Window& owner) override;
    void unload() override;
    WindowHandle handle() const override;

    QWidget& widget() { return *widget_; }

private:
    QWidget* createControl(const ControlLayout& control);
    void nameControls(const WindowLayout& layout);
    ClickableLabel* makeLabel(const ControlLayout& control, QWidget* container) const;
    QWidget* makeLine(const ControlLayout& control, QWidget* container) const;
    QWidget* makeImage(const ControlLayout& control, QWidget* container) const;
    QTimer* makeTimer(const ControlLayout& control) const;
    void applyCommon(const ControlLayout& control, QWidget& widget) const;
    QRect pixels(const TwipsRect& rect) const;
    int pixels(int twips) const { return scale_.pixels(twips); }
    void centreOver(const QRect& area);

    HandlerGuard& guard_;
    std::unique_ptr<FormWidget> widget_;
    StartPosition startPosition_;
    QEventLoop* modalLoop_ = nullptr;
    PixelScale scale_;
    bool placed_ = false;
    bool busy_ = false;
    std::map<std::string, QWidget*, std::less<>> containers_;
    NamedControls<QtLabel> labels_;
    NamedControls<QtDropDownList> lists_;
    NamedControls<QtPushButton> buttons_;
    NamedControls<QtTimer> timers_;
};

} // namespace trayvo
