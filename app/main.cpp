#include "app/AppDelegate.h"
#include "platform/ProcessExit.h"
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
    int status = 0;
    {
        AppDelegate delegate(application);
        SSHFSTable window;
        window.show();
        status = application.exec();
    }
    // The jobs of mounted volumes still run on their threads: nothing is torn down.
    ProcessExit::now(status);
}
