#include "ui/HostRowAccessible.h"

#include "ui/HostRowView.h"

#include <QAbstractScrollArea>
#include <QLabel>

HostRowAccessible::HostRowAccessible(HostRowView* row)
    : QAccessibleWidget(row, QAccessible::ListItem)
{}

QAccessibleInterface* HostRowAccessible::parent() const
{
    QWidget* viewport = widget()->parentWidget();
    if (auto* table =
            qobject_cast<QAbstractScrollArea*>(viewport ? viewport->parentWidget() : nullptr))
        return QAccessible::queryAccessibleInterface(table);
    return QAccessibleWidget::parent();
}

QString HostRowAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name)
        return static_cast<HostRowView*>(widget())->label()->text();
    return QAccessibleWidget::text(t);
}
