#include "platform/qt/window_qt.h"

#include "platform/qt/art_qt.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>

#include <utility>

namespace trayvo {
namespace {

QFont fontFor(const Font& font)
{
    QFont qfont = QApplication::font();
    if (font.points > 0)
        qfont.setPointSizeF(font.points);
    qfont.setBold(font.bold);
    qfont.setUnderline(font.underline);
    return qfont;
}

} // namespace

QtWindow::QtWindow(const WindowLayout& layout, HandlerGuard& guard)
    : guard_(guard)
    , widget_(std::make_unique<FormWidget>())
    , startPosition_(layout.startPosition)
    , scale_(QGuiApplication::primaryScreen()->logicalDotsPerInch())
{
    widget_->setObjectName(toQString(layout.name));
    widget_->setWindowTitle(toQString(layout.caption));
    widget_->setCloseHandler([this] {
        if (modalLoop_)
            modalLoop_->quit();
    });
    widget_->setFixedSize(pixels(layout.clientWidthTwips), pixels(layout.clientHeightTwips));
    widget_->setWindowIcon(artIcon(layout.icon));
    std::vector<QWidget*> focusChain;
    for (const ControlLayout& control : layout.controls) {
        QWidget* widget = createControl(control);
        if (widget && widget->focusPolicy() != Qt::NoFocus)
            focusChain.push_back(widget);
    }
    nameControls(layout);
    for (std::size_t i = 1; i < focusChain.size(); ++i)
        QWidget::setTabOrder(focusChain[i - 1], focusChain[i]);
    if (!focusChain.empty())
        focusChain.front()->setFocus();
}

QtWindow::~QtWindow()
{
    setMousePointer(MousePointer::Default);
}

QWidget* QtWindow::createControl(const ControlLayout& control)
{
    QWidget* container = containerOf(containers_, control, static_cast<QWidget*>(widget_.get()));
    const std::string key(control.name);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::Label:
        widget = makeLabel(control, container);
        break;
    case ControlKind::DropDownList: {
        auto* list = new QComboBox(container);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        lists_[key] = std::make_unique<QtDropDownList>(list, pixels(control.growRightToTwips));
        widget = list;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(toQString(control.text), container);
        button->setAutoDefault(false);
        buttons_[key] = std::make_unique<QtPushButton>(button, guard_);
        widget = button;
        break;
    }
    case ControlKind::Frame:
        widget = containers_[key] = new QGroupBox(container);
        break;
    case ControlKind::Line:
        widget = makeLine(control, container);
        break;
    case ControlKind::Image:
        widget = makeImage(control, container);
        break;
    case ControlKind::Timer:
        timers_[key] = std::make_unique<QtTimer>(makeTimer(control), guard_);
        return nullptr;
    }
    applyCommon(control, *widget);
    if (control.kind == ControlKind::Label) {
        const LabelFit fit{.autoSize = (control.flags & AutoSize) != 0,
                           .storedHeight = widget->height(),
                           .growDownTo = pixels(control.growDownToTwips)};
        labels_[key] = std::make_unique<QtLabel>(static_cast<ClickableLabel*>(widget), fit, guard_);
        labels_[key]->setCaption(control.text);
    }
    return widget;
}

// A label names its control as the label's buddy, which Qt's accessibility
// reads as the relation between the two.
void QtWindow::nameControls(const WindowLayout& layout)
{
    for (const ControlLayout& control : layout.controls) {
        if (control.labelFor.empty())
            continue;
        auto* label = widget_->findChild<QLabel*>(toQString(control.name));
        label->setBuddy(widget_->findChild<QWidget*>(toQString(control.labelFor)));
    }
}

ClickableLabel* QtWindow::makeLabel(const ControlLayout& control, QWidget* container) const
{
    auto* label = new ClickableLabel((control.flags & Link) != 0, container);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap((control.flags & WordWrap) != 0);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setAutoFillBackground((control.flags & Transparent) == 0);
    return label;
}

QWidget* QtWindow::makeLine(const ControlLayout& control, QWidget* container) const
{
    const TwipsRect& ends = control.rect;
    return new LineWidget(QPoint(pixels(ends.left), pixels(ends.top)), QPoint(pixels(ends.width), pixels(ends.height)),
                          control.lineWidthPixels, toQColor(control.color), container);
}

QWidget* QtWindow::makeImage(const ControlLayout& control, QWidget* container) const
{
    auto* image = new QLabel(container);
    image->setPixmap(artPixmap(control.picture));
    image->setScaledContents((control.flags & Stretch) != 0);
    return image;
}

QTimer* QtWindow::makeTimer(const ControlLayout& control) const
{
    auto* timer = new QTimer(widget_.get());
    timer->setObjectName(toQString(control.name));
    timer->setInterval(control.intervalMs);
    // A coarse timer may fall due up to 5 % early; a tick must not come
    // before its whole interval has passed.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

// Name, font, box, focus, tooltip, pointer and the name assistive technology
// reads, as the layout row gives them.
void QtWindow::applyCommon(const ControlLayout& control, QWidget& widget) const
{
    widget.setObjectName(toQString(control.name));
    widget.setFont(fontFor(control.font));
    if (control.kind == ControlKind::Image && (control.flags & Stretch) == 0)
        widget.setGeometry(QRect(pixels(control.rect).topLeft(), widget.sizeHint()));
    else if (control.kind != ControlKind::Line)
        widget.setGeometry(pixels(control.rect));
    if (control.kind != ControlKind::DropDownList && control.kind != ControlKind::PushButton)
        widget.setFocusPolicy(Qt::NoFocus);
    if (!control.toolTip.empty())
        widget.setToolTip(toQString(control.toolTip));
    if (control.cursor != Art::None)
        widget.setCursor(artCursor(control.cursor));
    if (!control.accessibleName.empty())
        widget.setAccessibleName(toQString(control.accessibleName));
}

QRect QtWindow::pixels(const TwipsRect& rect) const
{
    const PixelRect box = scale_.pixels(rect);
    return QRect(box.left, box.top, box.width, box.height);
}

void QtWindow::setCaption(TextView caption)
{
    widget_->setWindowTitle(toQString(caption));
}

void QtWindow::setMousePointer(MousePointer pointer)
{
    // The busy pointer must show while a handler blocks the event loop, which
    // only the application-wide override cursor does at once.
    const bool busy = pointer == MousePointer::Hourglass;
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

Label& QtWindow::label(std::string_view name)
{
    return findControl(labels_, name);
}

DropDownList& QtWindow::dropDownList(std::string_view name)
{
    return findControl(lists_, name);
}

PushButton& QtWindow::pushButton(std::string_view name)
{
    return findControl(buttons_, name);
}

Timer& QtWindow::timer(std::string_view name)
{
    return findControl(timers_, name);
}

void QtWindow::onDrivesChanged(Handler handler)
{
    widget_->setDrivesChangedHandler([&guard = guard_, handler = std::move(handler)] { guard.runNotice(handler); });
}

void QtWindow::onHelpKey(Handler handler)
{
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), widget_.get());
    QObject::connect(help, &QShortcut::activated, help,
                     [&guard = guard_, handler = std::move(handler)] { guard.run(handler); });
}

void QtWindow::show()
{
    widget_->show();
    if (!std::exchange(placed_, true))
        centreOver(widget_->screen()->availableGeometry());
}

void QtWindow::showModal(Window& owner)
{
    QWidget& ownerWidget = dynamic_cast<QtWindow&>(owner).widget();
    widget_->setWindowModality(Qt::ApplicationModal);
    widget_->setClosesOnEscape(true);
    // Minimized, a modal window would leave only its owner in sight, which
    // takes no input until the modal one closes.
    widget_->setWindowFlag(Qt::WindowMinimizeButtonHint, false);
    widget_->winId();
    widget_->windowHandle()->setTransientParent(ownerWidget.windowHandle());
    widget_->show();
    centreOver(startPosition_ == StartPosition::CenterOwner ? ownerWidget.frameGeometry()
                                                            : widget_->screen()->availableGeometry());
    QEventLoop loop;
    modalLoop_ = &loop;
    if (widget_->isVisible())
        loop.exec();
    modalLoop_ = nullptr;
    // Unloading destroys the window; the next opening builds a new one.
    widget_.reset();
}

void QtWindow::unload()
{
    widget_->close();
}

WindowHandle QtWindow::handle() const
{
    return static_cast<WindowHandle>(widget_->winId());
}

// Once shown, the frame's size is known where the window system tells it,
// so the whole window, title bar included, is what gets centred.
void QtWindow::centreOver(const QRect& area)
{
    QRect frame = widget_->frameGeometry();
    frame.moveCenter(area.center());
    widget_->move(frame.topLeft());
}

} // namespace trayvo
