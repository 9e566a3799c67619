#pragma once

#include <QAccessibleWidget>

namespace trayvo {

class ClickableLabel;
class FormWidget;

// Qt's hook for interfaces of its own making: ours for our windows, labels
// and lines, nothing (Qt's own) for every other object.
QAccessibleInterface* accessibleFor(const QString& className, QObject* object);

// A window of ours is a frame to assistive technology, and a dialog while it
// is shown modally, which a screen reader announces with its title.
class FormAccessible final : public QAccessibleWidget {
public:
    explicit FormAccessible(FormWidget* form);
    QAccessible::Role role() const override;
};

// What assistive technology gets of a label of ours: its text, also through
// the text interface, so that a screen reader can announce a change of it;
// the control it names; and, for a link, the link role and one action that
// does what a click does.
class LabelAccessible final : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LabelAccessible(ClickableLabel* label);

    QAccessible::Role role() const override;
    QString text(QAccessible::Text t) const override;
    QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(
        QAccessible::Relation match = QAccessible::AllRelations) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& action) override;

    // The text interface of read-only text that takes no cursor.
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    ClickableLabel& label() const;
};

} // namespace trayvo
