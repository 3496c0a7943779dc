#include "app/AppDelegate.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QIcon>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(u"Tollvane"_s);
    QGuiApplication::setDesktopFileName(u"tollvane"_s);
    QGuiApplication::setWindowIcon(QIcon(u":/tollvane.png"_s));
    AppDelegate delegate(application);
    SSHFSTable window;
    window.show();
    return application.exec();
}
