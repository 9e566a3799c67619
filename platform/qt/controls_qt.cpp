#include "platform/qt/controls_qt.h"

#include "platform/qt/runtime_qt.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

namespace trayvo {

QString toQString(TextView text)
{
    return QStringView(text).toString();
}

QColor toQColor(Color color)
{
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

QString toQString(std::string_view utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

Text fromQString(const QString& text)
{
    return text.toStdU16String();
}

FormWidget::FormWidget()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
}

void FormWidget::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (closed_)
        closed_();
}

void FormWidget::keyPressEvent(QKeyEvent* event)
{
    if (closesOnEscape_ && event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && clicked_)
        clicked_();
}

LineWidget::LineWidget(QPoint from, QPoint to, int width, QColor color, QWidget* parent)
    : QWidget(parent)
    , width_(width)
    , color_(color)
{
    const QRect box = QRect(from, to).normalized().adjusted(-width, -width, width, width);
    setGeometry(box);
    from_ = from - box.topLeft();
    to_ = to - box.topLeft();
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LineWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(color_, width_, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(from_, to_);
}

QtLabel::QtLabel(ClickableLabel* widget, bool autoSize, int growDownTo, QtWindowRuntime& runtime)
    : widget_(widget)
    , autoSize_(autoSize)
    , storedHeight_(widget->height())
    , growDownTo_(growDownTo)
    , runtime_(runtime)
{
}

void QtLabel::setCaption(TextView caption)
{
    widget_->setText(toQString(caption).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    fitText();
}

void QtLabel::fitText()
{
    if (autoSize_) {
        widget_->adjustSize();
        return;
    }
    const int room = std::max(storedHeight_, growDownTo_ - widget_->y());
    const int needed = widget_->heightForWidth(widget_->width());
    widget_->resize(widget_->width(), std::clamp(needed, storedHeight_, room));
}

void QtLabel::setForeColor(Color color)
{
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::WindowText, toQColor(color));
    widget_->setPalette(palette);
}

void QtLabel::onClick(Handler handler)
{
    widget_->setClickHandler([&runtime = runtime_, handler = std::move(handler)] { runtime.runHandler(handler); });
}

QtDropDownList::QtDropDownList(QComboBox* widget, int growRightTo)
    : widget_(widget)
    , growRightTo_(growRightTo)
{
}

void QtDropDownList::addItem(TextView text, int index)
{
    widget_->insertItem(index, toQString(text));
    fitLongestItem();
}

void QtDropDownList::fitLongestItem()
{
    const int room = growRightTo_ - widget_->x();
    const int wanted = std::min(widget_->sizeHint().width(), room);
    if (wanted > widget_->width())
        widget_->resize(wanted, widget_->height());
}

int QtDropDownList::selectedIndex() const
{
    return widget_->currentIndex();
}

void QtDropDownList::setSelectedIndex(int index)
{
    widget_->setCurrentIndex(index);
}

Text QtDropDownList::text() const
{
    return fromQString(widget_->currentText());
}

QtPushButton::QtPushButton(QPushButton* widget, QtWindowRuntime& runtime)
    : widget_(widget)
    , runtime_(runtime)
{
}

void QtPushButton::setEnabled(bool enabled)
{
    widget_->setEnabled(enabled);
}

void QtPushButton::onClick(Handler handler)
{
    QObject::connect(widget_, &QPushButton::clicked, widget_,
                     [&runtime = runtime_, handler = std::move(handler)] { runtime.runHandler(handler); });
}

QtTimer::QtTimer(QTimer* timer, QtWindowRuntime& runtime)
    : timer_(timer)
    , runtime_(runtime)
{
}

void QtTimer::setEnabled(bool enabled)
{
    if (!enabled)
        timer_->stop();
    else if (!timer_->isActive())
        timer_->start();
}

bool QtTimer::enabled() const
{
    return timer_->isActive();
}

void QtTimer::onTick(Handler handler)
{
    QObject::connect(timer_, &QTimer::timeout, timer_,
                     [&runtime = runtime_, handler = std::move(handler)] { runtime.runHandler(handler); });
}

} // namespace trayvo
