#include "app/AppDelegate.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QIcon>

#include <cstdlib>

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
    // The jobs of mounted volumes still run on their threads, inside Qt: leave without tearing
    // down the library state they use. Nothing is left to flush; the echo is written unbuffered.
    std::_Exit(status);
}
