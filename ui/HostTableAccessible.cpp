#include "ui/HostTableAccessible.h"

#include "ui/HostRowAccessible.h"
#include "ui/HostRowView.h"
#include "ui/HostTableView.h"

using namespace Qt::StringLiterals;

namespace {

QAccessibleInterface* hostInterfaces(const QString& className, QObject* object)
{
    if (className == "HostTableView"_L1)
        return new HostTableAccessible(static_cast<HostTableView*>(object));
    if (className == "HostRowView"_L1)
        return new HostRowAccessible(static_cast<HostRowView*>(object));
    return nullptr;
}

} // namespace

HostTableAccessible::HostTableAccessible(HostTableView* view)
    : QAccessibleWidget(view, QAccessible::List)
{}

void HostTableAccessible::installFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(hostInterfaces);
        return true;
    }();
    Q_UNUSED(installed);
}

HostTableView* HostTableAccessible::view() const
{
    return static_cast<HostTableView*>(widget());
}

int HostTableAccessible::childCount() const
{
    return int(view()->rowViews().size());
}

QAccessibleInterface* HostTableAccessible::child(int index) const
{
    return QAccessible::queryAccessibleInterface(view()->rowViews().value(index));
}

int HostTableAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    return child ? int(view()->rowViews().indexOf(child->object())) : -1;
}

QAccessibleInterface* HostTableAccessible::childAt(int x, int y) const
{
    for (QWidget* row : view()->rowViews()) {
        if (row->isVisible() && QRect(row->mapToGlobal(QPoint()), row->size()).contains(x, y))
            return QAccessible::queryAccessibleInterface(row);
    }
    return nullptr;
}
