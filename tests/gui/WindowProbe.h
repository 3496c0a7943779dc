#pragma once

#include <QList>
#include <QStringList>

class HostRowView;
class QPushButton;
class SSHFSTable;

// Reads the host window as a user sees it: the rows now built, their host names and buttons.
class WindowProbe
{
public:
    explicit WindowProbe(const SSHFSTable& table) : table_(table) {}

    QList<HostRowView*> rows() const;
    QStringList shownHosts() const;
    QPushButton* button(const QString& host) const;
    // The button's title, with " (disabled)" when it cannot be pressed; "no row" without one.
    QString title(const QString& host) const;

private:
    const SSHFSTable& table_;
};
