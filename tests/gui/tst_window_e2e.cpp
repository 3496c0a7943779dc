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

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // a bound for things that take well under a second

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QString volume(const QString& host)
{
    return env("TOLLVANE_E2E_VOLUMES") + u'/' + host;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Closes every message box that comes up, with its own button, and keeps what it said.
class AlertCloser : public QObject
{
public:
    AlertCloser()
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->buttons().isEmpty())
                return;
            seen << box->text() + u'|' + box->informativeText();
            QTest::mouseClick(box->buttons().constFirst(), Qt::LeftButton);
        });
        timer->start(20);
    }
    QStringList seen;
};

// The first of two processes: mounts "reachable" through the window, then closes the window,
// which quits. Exit 0 when all went so.
int mountThenQuit(QApplication& application)
{
    AppDelegate delegate(application);
    SSHFSTable window;
    window.show();
    const WindowProbe probe(window);
    QTest::mouseClick(probe.button(u"reachable"_s), Qt::LeftButton);
    if (!QTest::qWaitFor([&] { return probe.title(u"reachable"_s) == "Unmount"_L1; }, patience))
        return 3;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    return QApplication::exec();
}

// The second: a new start sees the volume the first left mounted, and unmounts it.
int startAgain(QApplication&)
{
    SSHFSTable window;
    window.show();
    const WindowProbe probe(window);
    if (probe.title(u"reachable"_s) != "Unmount"_L1)
        return 4;
    QTest::mouseClick(probe.button(u"reachable"_s), Qt::LeftButton);
    return QTest::qWaitFor([&] { return probe.title(u"reachable"_s) == "Mount"_L1; }, patience) ? 0
                                                                                                : 5;
}

} // namespace

class TestWindowEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<SSHFSTable> window_;

    QString title(const QString& host) const { return WindowProbe(*window_).title(host); }
    void press(const QString& host)
    {
        QPushButton* button = WindowProbe(*window_).button(host);
        QVERIFY2(button, qPrintable(host));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    static int runChild(const QString& name)
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {u"--child"_s, name});
        if (!child.waitForFinished(2 * patience))
            child.kill();
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (env("TOLLVANE_E2E_CONFIG").isEmpty())
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
        press(u"reachable"_s);
        QCOMPARE(title(u"reachable"_s), u"... (disabled)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(title(u"reachable"_s), u"Unmount"_s, patience);
        QVERIFY(FileSystem::isMountRoot(volume(u"reachable"_s)));
        QCOMPARE(
            QDir(volume(u"reachable"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            QDir(env("TOLLVANE_E2E_REMOTE")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));

        press(u"reachable"_s);
        QCOMPARE(title(u"reachable"_s), u"... (disabled)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(title(u"reachable"_s), u"Mount"_s, patience);
        QVERIFY(!FileSystem::isMountRoot(volume(u"reachable"_s)));
        QVERIFY(!FileSystem::exists(volume(u"reachable"_s)));
    }

    void refusedShowsTheAlert()
    {
        AlertCloser alerts;
        press(u"refused"_s);
        QCOMPARE(title(u"refused"_s), u"... (disabled)"_s);
        QTRY_COMPARE_WITH_TIMEOUT(alerts.seen, QStringList{u"Error|Couldn't connect to refused"_s},
                                  patience);
        QTRY_COMPARE_WITH_TIMEOUT(title(u"refused"_s), u"Mount"_s, patience);
        QVERIFY(!FileSystem::isMountRoot(volume(u"refused"_s)));
        QCOMPARE(title(u"reachable"_s), u"Mount"_s);
    }

    // A volume outlives the application that mounted it, and the next start shows it mounted.
    void quitLeavesTheVolumeMounted()
    {
        QCOMPARE(runChild(u"mountThenQuit"_s), 0);
        const QString mounted = volume(u"reachable"_s);
        QVERIFY(FileSystem::isMountRoot(mounted));
        QCOMPARE(contents(mounted + u"/README.txt"_s),
                 contents(env("TOLLVANE_E2E_REMOTE") + u"/README.txt"_s));
        {
            QFile note(mounted + u"/written after the quit"_s);
            QVERIFY(note.open(QIODevice::WriteOnly) && note.write("still here") == 10);
        }
        QCOMPARE(contents(env("TOLLVANE_E2E_REMOTE") + u"/written after the quit"_s),
                 QByteArray("still here"));
        QFile::remove(env("TOLLVANE_E2E_REMOTE") + u"/written after the quit"_s);

        QCOMPARE(runChild(u"startAgain"_s), 0);
        QVERIFY(!FileSystem::isMountRoot(mounted));
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == "--child"_L1) {
        if (arguments[2] == "mountThenQuit"_L1)
            return mountThenQuit(application);
        if (arguments[2] == "startAgain"_L1)
            return startAgain(application);
        return 2;
    }
    TestWindowEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window_e2e.moc"
