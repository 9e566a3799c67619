#pragma once

#include "platform/handler_guard.h"
#include "platform/layout_rules.h"
#include "platform/window_runtime.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QPushButton;
class QTimer;

namespace trayvo {

QString toQString(TextView text);
QColor toQColor(Color color);
QString toQString(std::string_view utf8);
Text fromQString(const QString& text);

// A window's top-level widget. Reports every way it is closed (the title
// bar, Alt+F4, unload, and Esc where it is a dialog) so that closing can
// unload the window rather than merely hide it; the runtime hands it the
// system's reports of drives attached and removed.
class FormWidget final : public QWidget {
public:
    FormWidget();
    void setCloseHandler(std::function<void()> handler) { closed_ = std::move(handler); }
    void setClosesOnEscape(bool closes) { closesOnEscape_ = closes; }
    void setDrivesChangedHandler(std::function<void()> handler) { drivesChanged_ = std::move(handler); }
    void drivesChanged() const
    {
        if (drivesChanged_)
            drivesChanged_();
    }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<void()> closed_;
    std::function<void()> drivesChanged_;
    bool closesOnEscape_ = false;
};

// A label that reports a click: pressed and released inside it, or asked
// for by assistive technology where the label is a link. A double-click is
// one click, as on Windows.
class ClickableLabel final : public QLabel {
public:
    ClickableLabel(bool link, QWidget* parent) : QLabel(parent), link_(link) {}
    void setClickHandler(Handler handler) { clicked_ = std::move(handler); }
    bool isLink() const { return link_; }
    void click() const;
    // Shows text and tells assistive technology that the label's text
    // changed, so that a screen reader can announce it.
    void showText(const QString& text);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Handler clicked_;
    bool link_;
    bool releaseEndsDoubleClick_ = false;
};

// A straight line between two points, drawn inside the widget's box.
class LineWidget final : public QWidget {
public:
    LineWidget(QPoint from, QPoint to, int width, QColor color, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint from_;
    QPoint to_;
    int width_;
    QColor color_;
};

// The controls run their handlers through the window runtime's guard.

class QtLabel final : public Label {
public:
    QtLabel(ClickableLabel* widget, LabelFit fit, HandlerGuard& guard);
    void setCaption(TextView caption) override;
    void setForeColor(Color color) override;
    void onClick(Handler handler) override;

private:
    void fitText();

    QPointer<ClickableLabel> widget_;
    LabelFit fit_;
    HandlerGuard& guard_;
};

class QtDropDownList final : public DropDownList {
public:
    QtDropDownList(QComboBox* widget, int growRightTo);
    void addItem(TextView text, int index) override;
    void clear() override;
    int selectedIndex() const override;
    void setSelectedIndex(int index) override;
    Text text() const override;

private:
    void fitLongestItem();

    QPointer<QComboBox> widget_;
    int growRightTo_;
};

class QtPushButton final : public PushButton {
public:
    QtPushButton(QPushButton* widget, HandlerGuard& guard);
    void setEnabled(bool enabled) override;
    void onClick(Handler handler) override;

private:
    QPointer<QPushButton> widget_;
    HandlerGuard& guard_;
};

class QtTimer final : public Timer {
public:
    QtTimer(QTimer* timer, HandlerGuard& guard);
    void setEnabled(bool enabled) override;
    void onTick(Handler handler) override;

private:
    QPointer<QTimer> timer_;
    HandlerGuard& guard_;
};

} // namespace trayvo
