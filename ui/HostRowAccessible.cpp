#include "ui/HostRowAccessible.h"

#include "ui/HostRowView.h"

#include <QAbstractScrollArea>
#include <QLabel>

using namespace Qt::StringLiterals;

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

QStringList HostRowAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (static_cast<HostRowView*>(widget())->mounted())
        names.prepend(u"Open"_s);
    return names;
}

void HostRowAccessible::doAction(const QString& actionName)
{
    if (actionName == "Open"_L1)
        Q_EMIT static_cast<HostRowView*>(widget())->openRequested();
    else
        QAccessibleWidget::doAction(actionName);
}
