#include "platform/qt/label_accessible_qt.h"

#include "platform/qt/controls_qt.h"

namespace trayvo {

LabelAccessible::LabelAccessible(ClickableLabel* label)
    : QAccessibleWidget(label, QAccessible::StaticText)
{
}

QAccessibleInterface* LabelAccessible::create(const QString&, QObject* object)
{
    auto* label = dynamic_cast<ClickableLabel*>(object);
    return label ? new LabelAccessible(label) : nullptr;
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
