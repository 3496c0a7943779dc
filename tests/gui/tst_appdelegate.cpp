#include "Fakes.h"
#include "PrivateMounts.h"
#include "app/AppDelegate.h"
#include "mount/Tollvane.h"
#include "platform/UserAccount.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// The application's life: launching, activation, closing the window. Runs in a private mount
// namespace with a fresh home, since launching installs the volume icon there, and on a private
// X server, where windows gain and lose the focus as they do on a desktop.
class TestAppDelegate : public QObject
{
    Q_OBJECT

    static void waitUntilInactive()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->hide();
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
    }

private Q_SLOTS:
    void initTestCase()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(UserAccount::homeDirectory()));
    }

    // Coming to the front posts once; moving between the application's own windows does not.
    void everyActivationPostsOnce()
    {
        const bool xcb = QGuiApplication::platformName() == "xcb"_L1;
        QVERIFY2(xcb || qEnvironmentVariable("CI") != "true"_L1, "needs Xvfb");
        if (!xcb)
            QSKIP("needs Xvfb: offscreen windows never lose the focus");
        waitUntilInactive();
        AppDelegate delegate(*qApp);
        ReloadCounter posts;
        QWidget first, second;
        for (int activation = 1; activation <= 3; ++activation) {
            first.show();
            first.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&first));
            QTRY_COMPARE(posts.count(), activation);
            second.show();
            second.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&second));
            QTest::qWait(20);
            waitUntilInactive();
            QCOMPARE(posts.count(), activation);
        }
    }

    // Launching has finished, and installs the volume icon (what it installs is the icon's own
    // test), once the event loop runs. Closing the only window quits at once, with no question.
    void launchThenCloseTheWindow()
    {
        const QString icon = UserAccount::homeDirectory() +
                             "/Library/Application Support/Tollvane/VolumeIcon.icns"_L1;
        QFile::remove(icon); // installed by an earlier test's launch
        Tollvane coordinator(QString(), FakePlatform().platform());
        AppDelegate delegate(*qApp);
        QVERIFY(!QFile::exists(icon));
        SSHFSTable window(coordinator);
        window.show();
        QTimer::singleShot(0, &window, [&] { window.close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); }); // no quit: a failure
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(QFile::exists(icon));
    }
};

// A private X server, pointed at before the application connects; its pid, or -1 without one.
// Xvfb names its display on fd 3 once it accepts clients.
static pid_t startXvfb()
{
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe[1], 3); // a new descriptor: open across exec
        ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", nullptr);
        ::_exit(127);
    }
    ::close(pipe[1]);
    char display[32] = ":";
    pollfd ready{pipe[0], POLLIN, 0};
    const bool named = pid > 0 && ::poll(&ready, 1, 10000) == 1 &&
                       ::read(pipe[0], display + 1, sizeof display - 2) > 1;
    ::close(pipe[0]);
    if (!named) {
        if (pid > 0)
            ::kill(pid, SIGKILL);
        return -1;
    }
    display[strcspn(display, "\n")] = 0;
    ::setenv("DISPLAY", display, 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    return pid;
}

int main(int argc, char** argv)
{
    const pid_t xvfb = startXvfb();
    int status = 0;
    {
        QApplication app(argc, argv);
        TestAppDelegate test;
        status = QTest::qExec(&test, argc, argv);
    }
    if (xvfb > 0)
        ::kill(xvfb, SIGTERM);
    return status;
}

#include "tst_appdelegate.moc"
