#pragma once

#include <QAccessibleWidget>

class HostRowView;

// One row of the host table for assistive technology: an item named after its host, in the
// table's list (its widget lives in the table's viewport, which would otherwise be its parent),
// with the action "Open" when its host is mounted.
class HostRowAccessible : public QAccessibleWidget
{
public:
    explicit HostRowAccessible(HostRowView* row);

    QAccessibleInterface* parent() const override;
    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
};
