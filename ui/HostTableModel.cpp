#include "ui/HostTableModel.h"

HostTableModel::HostTableModel(const Rows& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows)
{}

int HostTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int HostTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant HostTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::AccessibleTextRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return rows_[size_t(index.row())]->host;
}

Qt::ItemFlags HostTableModel::flags(const QModelIndex& index) const
{
    // Enabled for the row widgets, never selectable.
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void HostTableModel::reload(const std::function<void()>& replace)
{
    beginResetModel();
    replace();
    endResetModel();
}
