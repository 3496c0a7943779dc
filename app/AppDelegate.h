#pragma once

#include <QObject>

class QGuiApplication;

// Answers the application's events: installs the volume icon once launching has finished, asks
// every listener to refresh whenever the application becomes active, and lets the application
// quit when its last window closes. It keeps no state, and quitting unmounts nothing.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    explicit AppDelegate(QGuiApplication& application);

    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    bool applicationShouldTerminateAfterLastWindowClosed();
    void applicationWillBecomeActive();
};
