#pragma once

#include "platform/window_runtime.h"

#include <QLabel>
#include <QPointer>
#include <QWidget>

class QComboBox;
class QPushButton;
class QTimer;

namespace trayvo {

class QtWindowRuntime;

QString toQString(TextView text);
QString toQString(std::string_view utf8);
Text fromQString(const QString& text);

// A label that reports a click: pressed and released inside it.
class ClickableLabel final : public QLabel {
public:
    using QLabel::QLabel;
    void setClickHandler(Handler handler) { clicked_ = std::move(handler); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Handler clicked_;
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

class QtLabel final : public Label {
public:
    QtLabel(ClickableLabel* widget, bool autoSize, QtWindowRuntime& runtime);
    void setCaption(TextView caption) override;
    void setForeColor(Color color) override;
    void onClick(Handler handler) override;

private:
    QPointer<ClickableLabel> widget_;
    bool autoSize_;
    QtWindowRuntime& runtime_;
};

class QtDropDownList final : public DropDownList {
public:
    QtDropDownList(QComboBox* widget, int growRightTo);
    void addItem(TextView text, int index) override;
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
    QtPushButton(QPushButton* widget, QtWindowRuntime& runtime);
    void setEnabled(bool enabled) override;
    void onClick(Handler handler) override;

private:
    QPointer<QPushButton> widget_;
    QtWindowRuntime& runtime_;
};

class QtTimer final : public Timer {
public:
    QtTimer(QTimer* timer, QtWindowRuntime& runtime);
    void setEnabled(bool enabled) override;
    bool enabled() const override;
    void onTick(Handler handler) override;

private:
    QPointer<QTimer> timer_;
    QtWindowRuntime& runtime_;
};

} // namespace trayvo
