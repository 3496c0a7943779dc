#pragma once

#include "ui/HostRowView.h"
#include "ui/HostTableView.h"
#include "ui/SSHFSTable.h"

#include <QLabel>
#include <QPushButton>

// Reads the host window as a user sees it: the rows now built, their host names and buttons.
struct WindowProbe
{
    const SSHFSTable& table;

    QList<HostRowView*> rows() const
    {
        QList<HostRowView*> rows;
        for (QWidget* view : static_cast<HostTableView*>(table.sshTable.data())->rowViews())
            rows << static_cast<HostRowView*>(view);
        return rows;
    }
    QStringList shownHosts() const
    {
        QStringList hosts;
        for (HostRowView* row : rows())
            hosts << row->label()->text();
        return hosts;
    }
    QPushButton* button(const QString& host) const
    {
        const qsizetype row = shownHosts().indexOf(host);
        return row < 0 ? nullptr : rows().at(row)->button();
    }
    // The button's title, with " (disabled)" when it cannot be pressed; "no row" without one.
    QString title(const QString& host) const
    {
        const QPushButton* b = button(host);
        if (!b)
            return QStringLiteral("no row");
        return b->isEnabled() ? b->text() : b->text() + QLatin1String(" (disabled)");
    }
};
