#include "platform/qt/accessible_qt.h"

#include "platform/qt/controls_qt.h"

#include <QApplication>

namespace trayvo {

QAccessibleInterface* accessibleFor(const QString&, QObject* object)
{
    if (auto* label = dynamic_cast<ClickableLabel*>(object))
        return new LabelAccessible(label);
    if (auto* form = dynamic_cast<FormWidget*>(object))
        return new FormAccessible(form);
    // A line only divides the window: no unnamed blank for a reader to stop at.
    if (auto* line = dynamic_cast<LineWidget*>(object))
        return new QAccessibleWidget(line, QAccessible::Separator);
    return nullptr;
}

FormAccessible::FormAccessible(FormWidget* form)
    : QAccessibleWidget(form, QAccessible::Window)
{
}

QAccessible::Role FormAccessible::role() const
{
    return widget()->isModal() ? QAccessible::Dialog : QAccessible::Window;
}

LabelAccessible::LabelAccessible(ClickableLabel* label)
    : QAccessibleWidget(label, QAccessible::StaticText)
{
}

ClickableLabel& LabelAccessible::label() const
{
    return static_cast<ClickableLabel&>(*widget());
}

QAccessible::Role LabelAccessible::role() const
{
    return label().isLink() ? QAccessible::Link : QAccessible::StaticText;
}

QString LabelAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name && label().accessibleName().isEmpty())
        return label().text();
    return QAccessibleWidget::text(t);
}

// Qt's Labelled: the other object is labelled by this one.
QList<QPair<QAccessibleInterface*, QAccessible::Relation>> LabelAccessible::relations(
    QAccessible::Relation match) const
{
    auto related = QAccessibleWidget::relations(match);
    if ((match & QAccessible::Labelled) && label().buddy())
        related.append({QAccessible::queryAccessibleInterface(label().buddy()), QAccessible::Labelled});
    return related;
}

void* LabelAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QStringList LabelAccessible::actionNames() const
{
    return label().isLink() ? QStringList{pressAction()} : QAccessibleWidget::actionNames();
}

// The click comes from the event loop, after the request has been answered:
// the About window is modal, and its loop run inside the request would hold
// the screen reader's call until that window closed.
void LabelAccessible::doAction(const QString& action)
{
    if (!label().isLink() || action != pressAction())
        return QAccessibleWidget::doAction(action);
    // A window that waits for a modal one takes no clicks, nor this.
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != label().window())
        return;
    ClickableLabel* link = &label();
    QMetaObject::invokeMethod(link, [link] { link->click(); }, Qt::QueuedConnection);
}

void LabelAccessible::selection(int, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
}

QString LabelAccessible::text(int startOffset, int endOffset) const
{
    return label().text().mid(startOffset, endOffset - startOffset);
}

int LabelAccessible::characterCount() const
{
    return static_cast<int>(label().text().size());
}

// Plain text: one run without attributes.
QString LabelAccessible::attributes(int, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

} // namespace trayvo
