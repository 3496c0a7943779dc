#include "ui/HostRowView.h"

#include "catalogue/SSHFSServer.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

using namespace Qt::StringLiterals;

HostRowView::HostRowView(SSHFSServer& record, int tag, QWidget* parent)
    : QWidget(parent), label_(new QLabel(this)), button_(new QPushButton(u"Mount"_s, this))
{
    // Host names come from a file: never let one be read as markup.
    label_->setTextFormat(Qt::PlainText);
    label_->setText(record.host);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label_->setFocusPolicy(Qt::StrongFocus); // reachable with Tab, as the button is
    label_->installEventFilter(this);

    button_->setProperty(tagProperty, tag);
    button_->setFixedWidth(80);
    button_->setAutoDefault(false);
    mounted_ = record.isMounted();
    if (mounted_)
        button_->setText(u"Unmount"_s);
    if (record.handling) {
        button_->setText(u"..."_s);
        button_->setEnabled(false);
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 0, 6, 0);
    layout->addWidget(label_, 0, Qt::AlignLeft | Qt::AlignVCenter);
    layout->addStretch();
    layout->addWidget(button_, 0, Qt::AlignRight | Qt::AlignVCenter);
}

bool HostRowView::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        Q_EMIT openRequested();
        return true;
    case QEvent::KeyPress:
        if (const int key = static_cast<QKeyEvent*>(event)->key();
            key == Qt::Key_Return || key == Qt::Key_Enter) {
            Q_EMIT openRequested();
            return true;
        }
        break;
    case QEvent::ContextMenu:
        showMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void HostRowView::showMenu(const QPoint& at)
{
    // Not run in a loop of its own: a reload meanwhile disposes of the row, and the menu with it.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(u"Open"_s, this, &HostRowView::openRequested)->setEnabled(mounted_);
    menu->addSeparator();
    const QString host = label_->text();
    menu->addAction(u"Copy Name"_s, this, [host] { QGuiApplication::clipboard()->setText(host); });
    menu->popup(at);
}
