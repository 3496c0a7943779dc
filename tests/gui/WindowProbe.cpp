#include "WindowProbe.h"

#include "ui/HostRowView.h"
#include "ui/HostTableView.h"
#include "ui/SSHFSTable.h"

#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

QList<HostRowView*> WindowProbe::rows() const
{
    QList<HostRowView*> rows;
    for (QWidget* view : static_cast<HostTableView*>(table_.sshTable.data())->rowViews())
        rows << static_cast<HostRowView*>(view);
    return rows;
}

QStringList WindowProbe::shownHosts() const
{
    QStringList hosts;
    for (HostRowView* row : rows())
        hosts << row->label()->text();
    return hosts;
}

QPushButton* WindowProbe::button(const QString& host) const
{
    for (HostRowView* row : rows()) {
        if (row->label()->text() == host)
            return row->button();
    }
    return nullptr;
}

QString WindowProbe::title(const QString& host) const
{
    QPushButton* b = button(host);
    if (!b)
        return u"no row"_s;
    return b->isEnabled() ? b->text() : b->text() + u" (disabled)"_s;
}
