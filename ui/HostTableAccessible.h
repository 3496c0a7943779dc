#pragma once

#include <QAccessibleWidget>

class HostTableView;

// What assistive technology sees of the host table: a list whose items are the row widgets, each
// with its host name, its label and its button. Qt's own table interface knows only the cells,
// which are empty here, and would hide the rows' widgets.
class HostTableAccessible : public QAccessibleWidget
{
public:
    explicit HostTableAccessible(HostTableView* view);

    // Makes Qt use this interface for host tables and HostRowAccessible for their rows.
    static void installFactory();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

private:
    HostTableView* view() const;
};
