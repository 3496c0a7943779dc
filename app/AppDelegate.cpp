#include "app/AppDelegate.h"

#include "mount/Tollvane.h"
#include "mount/VolumeIcon.h"

#include <QGuiApplication>

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
