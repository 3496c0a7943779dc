#include "app/AppDelegate.h"

#include "mount/Tollvane.h"
#include "mount/VolumeIcon.h"

#include <QGuiApplication>
#include <QWidget>
#include <qpa/qplatformnativeinterface.h>

using namespace Qt::StringLiterals;

AppDelegate::AppDelegate(QGuiApplication& application)
{
    application.setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());
    // Qt derives the state from the window focus where the platform does not report it: a change
    // to active is the application coming to the front, the first time included.
    connect(&application, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    applicationWillBecomeActive();
            });
    connect(&application, &QCoreApplication::aboutToQuit, this,
            [this] { applicationWillTerminate(); });
    // Launching has finished when the event loop runs.
    QMetaObject::invokeMethod(this, &AppDelegate::applicationDidFinishLaunching,
                              Qt::QueuedConnection);
}

void AppDelegate::applicationDidFinishLaunching()
{
    installVolumeIcon();
}

void AppDelegate::applicationWillTerminate() {}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed()
{
    return true;
}

void AppDelegate::applicationWillBecomeActive()
{
    Tollvane::postReloadServers();
}

void AppDelegate::applicationShouldHandleReopen(QWidget& window, const QString& activationToken,
                                                const QString& startupId)
{
    if (!startupId.isEmpty() && QGuiApplication::platformName() == "xcb"_L1) {
        using SetStartupId = void (*)(const char*);
        if (void* (*function)() =
                QGuiApplication::platformNativeInterface()->nativeResourceFunctionForIntegration(
                    "setstartupid"))
            reinterpret_cast<SetStartupId>(reinterpret_cast<void*>(function))(
                startupId.toUtf8().constData());
    }
    // Where the Wayland client takes its token from when the window asks for the focus.
    if (!activationToken.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    window.showNormal();
    window.raise();
    window.activateWindow();
    // The rows are refreshed even where no change of state follows: the window was in front
    // already, or the desktop keeps the focus where it is.
    applicationWillBecomeActive();
}
