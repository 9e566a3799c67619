#include "platform/qt/controls_qt.h"

#include <QAccessible>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include <utility>

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

// Qt gives a double-click as a click, then a press that is also a
// double-click, and a release: that release is no second click.
void ClickableLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    QLabel::mouseDoubleClickEvent(event);
    releaseEndsDoubleClick_ = event->button() == Qt::LeftButton;
}

void ClickableLabel::click() const
{
    if (clicked_)
        clicked_();
}

void ClickableLabel::showText(const QString& text)
{
    const QString before = this->text();
    setText(text);
    if (text == before)
        return;
    QAccessibleTextUpdateEvent changed(this, 0, before, text);
    QAccessible::updateAccessibility(&changed);
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || std::exchange(releaseEndsDoubleClick_, false))
        return;
    if (rect().contains(event->position().toPoint()))
        click();
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

QtLabel::QtLabel(ClickableLabel* widget, LabelFit fit, HandlerGuard& guard)
    : widget_(widget)
    , fit_(fit)
    , guard_(guard)
{
}

void QtLabel::setCaption(TextView caption)
{
    widget_->showText(toQString(caption).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    fitText();
}

void QtLabel::fitText()
{
    if (fit_.autoSize)
        widget_->adjustSize();
    else
        widget_->resize(widget_->width(), fit_.height(widget_->y(), widget_->heightForWidth(widget_->width())));
}

void QtLabel::setForeColor(Color color)
{
    QPalette palette = widget_->palette();
    palette.setColor(QPalette::WindowText, toQColor(color));
    widget_->setPalette(palette);
}

void QtLabel::onClick(Handler handler)
{
    widget_->setClickHandler([&guard = guard_, handler = std::move(handler)] { guard.run(handler); });
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
    widget_->resize(dropDownWidth(widget_->width(), widget_->x(), widget_->sizeHint().width(), growRightTo_),
                    widget_->height());
}

void QtDropDownList::clear()
{
    widget_->clear();
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

QtPushButton::QtPushButton(QPushButton* widget, HandlerGuard& guard)
    : widget_(widget)
    , guard_(guard)
{
}

void QtPushButton::setEnabled(bool enabled)
{
    widget_->setEnabled(enabled);
}

void QtPushButton::onClick(Handler handler)
{
    QObject::connect(widget_, &QPushButton::clicked, widget_,
                     [&guard = guard_, handler = std::move(handler)] { guard.run(handler); });
}

QtTimer::QtTimer(QTimer* timer, HandlerGuard& guard)
    : timer_(timer)
    , guard_(guard)
{
}

void QtTimer::setEnabled(bool enabled)
{
    if (!enabled)
        timer_->stop();
    else if (!timer_->isActive())
        timer_->start();
}

void QtTimer::onTick(Handler handler)
{
    QObject::connect(timer_, &QTimer::timeout, timer_,
                     [&guard = guard_, handler = std::move(handler)] { guard.runTick(handler); });
}

} // namespace trayvo
