#pragma once

#include <QObject>

class QGuiApplication;
class QWidget;

// Answers the application's events: installs the volume icon once launching has finished, asks
// every listener to refresh whenever the application becomes active, and lets the application
// quit when its last window closes. It keeps no state, and quitting unmounts nothing. A later
// start of the application brings the window to the front instead of opening another.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(QGuiApplication& application);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed();
    void applicationWillBecomeActive();
    // With the launcher's activation token (Wayland) or startup id (X11), which let the desktop
    // give the window the focus.
    void applicationShouldHandleReopen(QWidget& window, const QString& activationToken,
                                       const QString& startupId);
};
