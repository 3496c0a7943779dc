#include "ui/MessageBoxAlert.h"

#include <QApplication>
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
    box.setDefaultButton(box.addButton(u"OK"_s, QMessageBox::AcceptRole));
    box.exec();
}
