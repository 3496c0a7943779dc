// The window against real parts, in the environment of run-in-namespace.sh: the shared
// coordinator reads the configuration there, the compat programs stand at their fixed paths,
// Debian's sshfs mounts from the sshd on 127.0.0.1, and the alert is the real message box.

#include "PrivateMounts.h"
#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "platform/FileSystem.h"
#include "platform/UserAccount.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // a bound for things that take well under a second

// A child process, started as the application is: "reachable" reads `before`, a press turns it
// to `after`, and closing the window quits. Exit 0 when all went so.
int pressThenQuit(const QString& before, const QString& after)
{
    AppDelegate delegate(*qApp);
    SSHFSTable window;
    window.show();
    const WindowProbe probe(window);
    if (probe.title(u"reachable"_s) != before)
        return 3;
    QTest::mouseClick(probe.button(u"reachable"_s), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return probe.title(u"reachable"_s) == after; }, patience))
        return 4;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    return QApplication::exec();
}

} // namespace

class TestWindowEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<SSHFSTable> window_;
    const QString volumes = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES"); // the mount points
    const QString remote = qEnvironmentVariable("TOLLVANE_E2E_REMOTE");   // what host:/ serves

    // The row is busy at once, and reads `after` once its commands have ended.
    void press(const QString& host, const QString& after)
    {
        const WindowProbe probe(*window_);
        QVERIFY2(probe.button(host), qPrintable(host));
        QTest::mouseClick(probe.button(host), Qt::LeftButton);
        QCOMPARE(probe.title(host), u"... (disabled)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(probe.title(host), after, patience);
    }

    static int runChild(const QString& before, const QString& after)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {u"--child"_s, before, after});
        if (!child.waitForFinished(2 * patience))
            child.kill();
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("TOLLVANE_E2E_CONFIG").isEmpty())
            QSKIP("run through run-in-namespace.sh");
        // Launching installs the volume icon in the home folder: a fresh one, for this run only.
        QVERIFY(PrivateMounts::mountTmpfs(UserAccount::homeDirectory()));
        window_ = std::make_unique<SSHFSTable>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QCOMPARE(WindowProbe(*window_).shownHosts(),
                 QStringList({u"reachable"_s, u"refused"_s, u"unresolvable"_s}));
    }

    void cleanupTestCase() { window_.reset(); }

    void mountAndUnmountReachable()
    {
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot;
        press(u"reachable"_s, u"Unmount"_s);
        QVERIFY(FileSystem::isMountRoot(volumes + u"/reachable"_s));
        QCOMPARE(QDir(volumes + u"/reachable"_s).entryList(all), QDir(remote).entryList(all));
        press(u"reachable"_s, u"Mount"_s);
        QVERIFY(!FileSystem::isMountRoot(volumes + u"/reachable"_s));
    }

    void refusedShowsTheAlert()
    {
        // Closes the message box with its own button, once it is up, and keeps what it said.
        QStringList seen;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && !box->buttons().isEmpty()) {
                seen << box->text() + u'|' + box->informativeText();
                QTest::mouseClick(box->buttons().constFirst(), Qt::LeftButton);
            }
        });
        closer.start(20);
        press(u"refused"_s, u"Mount"_s);
        QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{u"Error|Couldn't connect to refused"_s},
                                  patience);
        QVERIFY(!FileSystem::isMountRoot(volumes + u"/refused"_s));
    }

    // A volume outlives the application that mounted it, and the next start shows it mounted.
    void quitLeavesTheVolumeMounted()
    {
        QCOMPARE(runChild(u"Mount"_s, u"Unmount"_s), 0);
        const QString note = u"/written after the quit"_s;
        QFile local(volumes + u"/reachable"_s + note), served(remote + note);
        QVERIFY(local.open(QIODevice::WriteOnly) && local.write("still here") == 10);
        local.close();
        QVERIFY(served.open(QIODevice::ReadOnly));
        QCOMPARE(served.readAll(), QByteArray("still here"));
        QVERIFY(served.remove());

        QCOMPARE(runChild(u"Unmount"_s, u"Mount"_s), 0);
        QVERIFY(!FileSystem::isMountRoot(volumes + u"/reachable"_s));
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == "--child"_L1) {
        const int status = pressThenQuit(arguments[2], arguments[3]);
        // Like the application: leave without tearing down what the job threads, still serving
        // the mount, are using.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    TestWindowEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_e2e.moc"
