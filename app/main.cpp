#include "app/AppDelegate.h"
#include "app/SingleInstance.h"
#include "platform/ProcessExit.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>

using namespace Qt::StringLiterals;

namespace {
// Built in, as an XPM: any image file would go through the image reader, which loads every
// image-format plugin there is.
#include "resources/tollvane-64.xpm"
} // namespace

int main(int argc, char* argv[])
{
    const QVariantMap launch = SingleInstance::launchPlatformData();
    QApplication application(argc, argv);
    const QString id = QLatin1StringView(TOLLVANE_APP_ID);
    QApplication::setApplicationName(u"Tollvane"_s);
    QGuiApplication::setDesktopFileName(id);
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(QImage(tollvane64))));
    int status = 0;
    {
        AppDelegate delegate(application);
        SSHFSTable window;
        SingleInstance instance(id);
        QObject::connect(&instance, &SingleInstance::activated, &delegate,
                         [&](const QString& token, const QString& startupId) {
                             delegate.applicationShouldHandleReopen(window, token, startupId);
                         });
        // The window is built while the bus answers, and shown only by the one instance.
        instance.claim(launch, [&](bool first) {
            if (first)
                window.show();
            else
                QCoreApplication::exit(0);
        });
        status = application.exec();
    }
    // The jobs of mounted volumes still run on their threads: nothing is torn down.
    ProcessExit::now(status);
}
