#include "ui/HostRowView.h"

#include "catalogue/SSHFSServer.h"

#include <QHBoxLayout>
#include <QLabel>
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

    button_->setProperty(tagProperty, tag);
    button_->setFixedWidth(80);
    button_->setAutoDefault(false);
    if (record.isMounted())
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
