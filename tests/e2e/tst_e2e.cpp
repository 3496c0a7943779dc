// The application against real parts, driven through its window: the shared coordinator on the
// configuration of the end-to-end environment, the compat programs at their fixed paths, Debian's
// sshfs, FUSE and the sshd on 127.0.0.1, on a private X server and session bus. Alerts are the
// real message boxes, read and closed as a person would. Each scenario is a list of steps:
//   press H...        presses each host's button; each row is busy at once
//   title T H...      waits until each host's button reads T
//   alert H...        exactly these alerts ("Couldn't connect to H") came in this scenario
//   same H            the volume shows what the server serves
//   absent H...       no mount point is left
//   stop H            stops the host's client (resumed at the end of the scenario)
//   refresh           the window rebuilds, as when the application comes to the front
//   child T1 T2       a second process of the application finds "reachable" reading T1, presses
//                     it until it reads T2, and quits
//   write H           a file written in the volume reaches the server
//   atspi ARGS...     runs atspi.py ARGS (a screen reader's view of this process, or the askpass)
// After every scenario nothing outside the mount points may have changed.

#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "mount/Tollvane.h"
#include "platform/FileSystem.h"
#include "platform/UserAccount.h"

#include <QApplication>
#include <QDirIterator>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // a bound for things that take well under a second
const QString dir = qEnvironmentVariable("TOLLVANE_E2E_DIR");
const QString volumes = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES");
const QString remote = qEnvironmentVariable("TOLLVANE_E2E_REMOTE");
const QString canary = dir + "/canary"_L1;
// Files that a mount point walking out of its place would take away.
const QStringList sentinels = {u"/Users/.tollvane-e2e"_s, UserAccount::userFolder() + "/sentinel"_L1,
                               volumes + "/plain/sentinel"_L1, remote + "/b/sentinel"_L1};

// Host names a hostile configuration could hold (no blanks: the parser cuts names there).
const QStringList hostile = {"$(touch${IFS}"_L1 + canary + u')',
                             "`touch${IFS}"_L1 + canary + u'`',
                             "x;touch${IFS}"_L1 + canary,
                             "x|touch${IFS}"_L1 + canary,
                             "-oProxyCommand=touch${IFS}"_L1 + canary,
                             "x'\"$(touch${IFS}"_L1 + canary + ")\"'"_L1};

QStringList filesUnder(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(root.size());
    files.sort();
    return files;
}

// Runs a process while this one's event loop goes on (it may be asking this very window).
int runAlongside(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, arguments);
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 2 * patience))
        process.kill();
    process.waitForFinished();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The second process: "reachable" reads `before`, a press turns it to `after`, closing quits.
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

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<SSHFSTable> window_;
    QStringList alerts_;   // this scenario's, "Error|Couldn't connect to H"
    QList<pid_t> stopped_; // clients to resume

    QString mountPoint(const QString& host) const { return volumes + u'/' + host; }

    bool step(const QString& verb, QStringList args)
    {
        const WindowProbe probe(*window_);
        if (verb == "press"_L1) {
            for (const QString& host : args) {
                QTest::mouseClick(probe.button(host), Qt::LeftButton);
                if (probe.title(host) != "... (disabled)"_L1)
                    return false;
            }
        } else if (verb == "title"_L1) {
            const QString title = args.takeFirst();
            for (const QString& host : args) {
                if (!QTest::qWaitFor([&] { return probe.title(host) == title; }, patience))
                    return false;
            }
        } else if (verb == "alert"_L1) {
            if (QTest::qWaitFor([&] { return alerts_.size() >= args.size(); }, patience))
                QTest::qWait(500); // and no more
            for (QString& host : args)
                host.prepend("Error|Couldn't connect to "_L1);
            args.sort();
            alerts_.sort();
            return alerts_ == args;
        } else if (verb == "same"_L1) {
            return FileSystem::isMountRoot(mountPoint(args[0])) &&
                   filesUnder(mountPoint(args[0])) == filesUnder(remote);
        } else if (verb == "absent"_L1) {
            return std::none_of(args.begin(), args.end(), [&](const QString& host) {
                return QFileInfo::exists(mountPoint(host));
            });
        } else if (verb == "stop"_L1) {
            for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
                QFile cmdline(u"/proc/"_s + pid + u"/cmdline"_s);
                const auto words = cmdline.open(QIODevice::ReadOnly) ? cmdline.readAll().split('\0')
                                                                     : QList<QByteArray>();
                if (words.value(0) == "/usr/bin/sshfs" &&
                    words.contains(QFile::encodeName(mountPoint(args[0]))) &&
                    ::kill(pid.toInt(), SIGSTOP) == 0)
                    stopped_ << pid.toInt();
            }
            return !stopped_.isEmpty();
        } else if (verb == "refresh"_L1) {
            Tollvane::postReloadServers();
        } else if (verb == "child"_L1) {
            return runAlongside(QCoreApplication::applicationFilePath(),
                                QStringList{u"--child"_s} + args) == 0;
        } else if (verb == "write"_L1) {
            QFile local(mountPoint(args[0]) + "/written"_L1), served(remote + "/written"_L1);
            const bool ok = local.open(QIODevice::WriteOnly) && local.write("still here") == 10;
            local.close();
            return ok && served.open(QIODevice::ReadOnly) && served.readAll() == "still here" &&
                   served.remove();
        } else if (verb == "atspi"_L1) {
            return runAlongside(u"/usr/bin/python3"_s,
                                QStringList{QFINDTESTDATA("atspi.py")} + args) == 0;
        } else {
            qFatal("unknown step %s", qPrintable(verb));
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (volumes.isEmpty())
            QSKIP("run through run-in-namespace.sh --desktop");
        // More hosts: some with the options of "reachable" (its block comes first).
        QFile config(qEnvironmentVariable("TOLLVANE_E2E_CONFIG"));
        QVERIFY(config.open(QIODevice::ReadWrite));
        const QByteArray all = config.readAll(), block = all.left(all.indexOf("\n\n"));
        const QByteArray options = block.mid(block.indexOf('\n'));
        for (const char* host : {"a", "r1", "r2", "r3", "r4"})
            config.write("\n\nHost "_ba + host + options);
        for (const QString& host : hostile + QStringList{u".."_s, u"../.."_s, u"."_s,
                                                         u"x/../plain"_s, u"a/b"_s})
            config.write("\n\nHost " + host.toUtf8());
        config.close();
        for (const QString& file : sentinels)
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && QFile(file).open(QIODevice::WriteOnly));

        window_ = std::make_unique<SSHFSTable>();
        window_->resize(600, 2000); // every row in sight
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        // Closes each message box with its own button once it is up, and keeps what it said.
        auto* closer = new QTimer(this);
        connect(closer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible() && !box->buttons().isEmpty()) {
                alerts_ << box->text() + u'|' + box->informativeText();
                QTest::mouseClick(box->buttons().constFirst(), Qt::LeftButton);
            }
        });
        closer->start(20);
    }

    void scenarios_data()
    {
        QTest::addColumn<QStringList>("steps");
        const auto failing = [](const QString& h) {
            return QStringList{u"press "_s + h, u"title Mount "_s + h, u"alert "_s + h,
                               u"absent "_s + h};
        };
        QTest::newRow("mount and unmount through the linked home")
            << QStringList{u"press reachable"_s, u"title Unmount reachable"_s, u"same reachable"_s,
                           u"press reachable"_s, u"title Mount reachable"_s, u"absent reachable"_s};
        QTest::newRow("refused") << failing(u"refused"_s);
        QTest::newRow("unresolvable") << failing(u"unresolvable"_s);
        for (const QString& host : hostile)
            QTest::newRow(qPrintable(host)) << failing(host);
        const QString dotted = u".. ../.. . x/../plain"_s;
        QTest::newRow("mount points outside their place")
            << QStringList{u"press "_s + dotted, u"title Mount "_s + dotted, u"alert "_s + dotted};
        QTest::newRow("a mount point inside a mounted volume")
            << QStringList{u"press a"_s, u"title Unmount a"_s, u"press a/b"_s, u"title Mount a/b"_s,
                           u"alert a/b"_s, u"press a"_s, u"title Mount a"_s, u"absent a/b a"_s};
        QTest::newRow("a stopped client: the window still answers, the unmount still works")
            << QStringList{u"press reachable"_s, u"title Unmount reachable"_s, u"stop reachable"_s,
                           u"refresh"_s, u"title Unmount reachable"_s, u"press reachable"_s,
                           u"title Mount reachable"_s};
        QTest::newRow("the volume outlives the application that mounted it")
            << QStringList{u"child Mount Unmount"_s, u"write reachable"_s, u"refresh"_s,
                           u"title Unmount reachable"_s, u"press reachable"_s,
                           u"title Mount reachable"_s};
        QTest::newRow("four at once")
            << QStringList{u"press r1 r2 r3 r4"_s, u"title Unmount r1 r2 r3 r4"_s,
                           u"press r1 r2 r3 r4"_s, u"title Mount r1 r2 r3 r4"_s, u"alert"_s};
        QTest::newRow("a screen reader reads the rows and presses a button")
            << QStringList{u"atspi row tst_e2e reachable Mount"_s, u"atspi press tst_e2e reachable"_s,
                           u"title Unmount reachable"_s, u"atspi row tst_e2e reachable Unmount"_s,
                           u"press reachable"_s, u"title Mount reachable"_s};
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        for (const QString& s : steps) {
            QStringList words = s.split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            QVERIFY2(step(verb, words), qPrintable(s));
        }
    }

    void init()
    {
        alerts_.clear();
        QVERIFY(QFile::exists(sentinels[0])); // /Users is still the environment's own
    }

    void cleanup()
    {
        for (pid_t pid : std::exchange(stopped_, {}))
            ::kill(pid, SIGCONT);
        QVERIFY(!QFile::exists(canary));
        for (const QString& file : sentinels)
            QVERIFY2(QFile::exists(file), qPrintable(file));
    }
};

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == "--child"_L1) {
        const int status = pressThenQuit(arguments[2], arguments[3]);
        std::fflush(nullptr);
        std::_Exit(status); // as the application leaves: its jobs still serve the volume
    }
    TestEndToEnd test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_e2e.moc"
