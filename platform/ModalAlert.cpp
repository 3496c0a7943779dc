#include "platform/ModalAlert.h"

#include <QApplication>
#include <QMessageBox>

using namespace Qt::StringLiterals;

void ModalAlert::runModal(const QString& messageText, const QString& informativeText)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    // Over the window the user is looking at, when there is one.
    QMessageBox box(QApplication::activeWindow());
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(QCoreApplication::applicationName());
    box.setText(messageText);
    box.setInformativeText(informativeText);
    box.setDefaultButton(box.addButton(u"OK"_s, QMessageBox::AcceptRole));
    box.exec();
}
