#pragma once

#include "catalogue/SSHFSServer.h"

#include <QAbstractTableModel>

#include <functional>
#include <memory>
#include <vector>

// The host list as the table sees it: one row per record of a list the controller owns, one
// column. The cells hold no text of their own; each row is a widget of its own (HostRowView).
class HostTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using Rows = std::vector<std::shared_ptr<SSHFSServer>>;

    explicit HostTableModel(const Rows& rows, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Runs `replace`, which changes the list, as one reset of every view: no view ever holds a
    // row index of the list it had before.
    void reload(const std::function<void()>& replace);

private:
    const Rows& rows_;
};
