#include "ui/MessageBoxAlert.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>

using namespace Qt::StringLiterals;

void MessageBoxAlert::runModal(const QString& messageText, const QString& informativeText)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(messageText);
    box.setInformativeText(informativeText);
    // Plain text, to the eye and to a screen reader: Qt guesses rich text otherwise, and a host
    // name is never markup. Qt 6.4's setTextFormat() reaches the main label alone.
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    box.setDefaultButton(box.addButton(u"OK"_s, QMessageBox::AcceptRole));
    box.exec();
}
