// The application against real parts, driven through its window: the shared coordinator on the
// configuration of the end-to-end environment, the compat programs at their fixed paths, Debian's
// sshfs, FUSE and the sshd on 127.0.0.1, on a private X server and session bus. Alerts are the
// real message boxes, read and closed as a person would. Each scenario is a list of steps:
//   press H...        presses each host's button; each row is busy at once
//   title T H...      waits until each host's button reads T
//   bound S           those waits end within S seconds of the last press
//   alert H...        exactly these alerts ("Couldn't connect to H") came in this scenario
//   absent H...       no mount point is left
//   refresh           the window rebuilds, as when the application comes to the front
//   child T1 T2       a second process of the application finds "reachable" reading T1, presses
//                     it until it reads T2, and quits
//   env NAME VALUE    sets the application's environment for the rest of the scenario
//   sh COMMAND...     a shell command that must succeed ($V: the volumes, $R: what the server
//                     serves, $D: the scratch folder)
//   atspi ARGS...     runs atspi.py ARGS (a screen reader's view of this process, or the askpass)
// After every scenario nothing outside the mount points may have changed.

#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "mount/Tollvane.h"
#include "platform/FileSystem.h"
#include "platform/UserAccount.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>

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
    QStringList alerts_; // this scenario's, "Error|Couldn't connect to H"
    QElapsedTimer sincePress_;
    QDeadlineTimer deadline_;
    QStringList environment_; // set for this scenario
    QProcess silent_;         // a listener that never greets

    QString mountPoint(const QString& host) const { return volumes + u'/' + host; }

    bool step(const QString& verb, QStringList args)
    {
        const WindowProbe probe(*window_);
        if (verb == "press"_L1) {
            for (const QString& host : args) {
                QTest::mouseClick(probe.button(host), Qt::LeftButton);
                sincePress_.start();
                if (probe.title(host) != "... (disabled)"_L1)
                    return false;
            }
        } else if (verb == "title"_L1) {
            const QString title = args.takeFirst();
            for (const QString& host : args) {
                const int wait = deadline_.isForever() ? patience : deadline_.remainingTime();
                if (!QTest::qWaitFor([&] { return probe.title(host) == title; }, wait))
                    return false;
            }
        } else if (verb == "bound"_L1) {
            deadline_.setRemainingTime(args[0].toInt() * 1000 - sincePress_.elapsed());
        } else if (verb == "alert"_L1) {
            if (QTest::qWaitFor([&] { return alerts_.size() >= args.size(); }, patience))
                QTest::qWait(500); // and no more
            for (QString& host : args)
                host.prepend("Error|Couldn't connect to "_L1);
            args.sort();
            alerts_.sort();
            return alerts_ == args;
        } else if (verb == "absent"_L1) {
            return std::none_of(args.begin(), args.end(), [&](const QString& host) {
                return QFileInfo::exists(mountPoint(host));
            });
        } else if (verb == "refresh"_L1) {
            Tollvane::postReloadServers();
        } else if (verb == "child"_L1) {
            return runAlongside(QCoreApplication::applicationFilePath(),
                                QStringList{u"--child"_s} + args) == 0;
        } else if (verb == "env"_L1) {
            environment_ << args[0];
            qputenv(args[0].toUtf8().constData(), args[1].toUtf8());
        } else if (verb == "sh"_L1) {
            return runAlongside(u"/bin/bash"_s,
                                {u"-c"_s, "V=$TOLLVANE_E2E_VOLUMES R=$TOLLVANE_E2E_REMOTE "
                                          "D=$TOLLVANE_E2E_DIR; "_L1 + args.join(u' ')}) == 0;
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
        // A listener that takes connections and never greets.
        silent_.start(u"/usr/bin/python3"_s, {u"-c"_s, u"import socket, time; s = socket.socket(); "
                                                       "s.bind(('127.0.0.1', 0)); s.listen(64); "
                                                       "print(s.getsockname()[1], flush=True); "
                                                       "time.sleep(1e6)"_s});
        QVERIFY(silent_.waitForReadyRead());
        const QByteArray silent = "\n    HostName 127.0.0.1\n    Port " + silent_.readLine().trimmed();
        // More hosts: some with the options of "reachable" (its block comes first).
        QFile config(qEnvironmentVariable("TOLLVANE_E2E_CONFIG"));
        QVERIFY(config.open(QIODevice::ReadWrite));
        const QByteArray all = config.readAll(), block = all.left(all.indexOf("\n\n"));
        const QByteArray options = block.mid(block.indexOf('\n'));
        const QByteArray server = options.left(options.indexOf("\n    User"));
        config.write("\n\nHost a" + options + "\n\nHost silent" + silent + "\n\nHost silent3" +
                     silent + "\n    ConnectTimeout 3\n\nHost password" + server +
                     "\n    User tollvane-e2e\n    PubkeyAuthentication no\n"
                     "    StrictHostKeyChecking no\n    UserKnownHostsFile /dev/null\n\nHost newkey" +
                     options.left(options.indexOf("\n    StrictHostKeyChecking")) +
                     "\n    UserKnownHostsFile " + dir.toUtf8() + "/known_hosts");
        for (const QString& host : hostile + QStringList{u".."_s, u"../.."_s, u"."_s,
                                                         u"x/../plain"_s, u"a/b"_s})
            config.write("\n\nHost " + host.toUtf8());
        config.close();
        for (const QString& file : sentinels)
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) && QFile(file).open(QIODevice::WriteOnly));
        QFile fake(dir + "/askpass"_L1); // a user's own askpass
        QVERIFY(fake.open(QIODevice::WriteOnly) &&
                fake.write("#!/bin/sh\necho \"$1\" >>\"${0%/*}/asked\"\necho tollvane-e2e\n") > 0);
        fake.setPermissions(fake.permissions() | QFile::ExeOwner);

        window_ = std::make_unique<SSHFSTable>();
        window_->resize(600, 1200); // every row in sight
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

    void cleanupTestCase() { silent_.kill(); }

    void scenarios_data()
    {
        QTest::addColumn<QStringList>("steps");
        const auto failing = [](const QString& h) {
            return QStringList{u"press "_s + h, u"title Mount "_s + h, u"alert "_s + h,
                               u"absent "_s + h};
        };
        QTest::newRow("mount and unmount through the linked home")
            << QStringList{u"press reachable"_s, u"title Unmount reachable"_s,
                           u"sh diff -r $V/reachable $R"_s, u"press reachable"_s,
                           u"title Mount reachable"_s, u"absent reachable"_s};
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
            << QStringList{u"press reachable"_s, u"title Unmount reachable"_s,
                           u"sh pkill -STOP -f \"^/usr/bin/sshfs .* $V/reachable\""_s, u"refresh"_s,
                           u"title Unmount reachable"_s, u"press reachable"_s,
                           u"title Mount reachable"_s};
        QTest::newRow("the volume outlives the application that mounted it")
            << QStringList{u"child Mount Unmount"_s, u"sh echo x >$V/reachable/new && rm $R/new"_s,
                           u"refresh"_s, u"title Unmount reachable"_s, u"press reachable"_s,
                           u"title Mount reachable"_s};
        QTest::newRow("a screen reader reads the rows and presses a button")
            << QStringList{u"atspi row tst_e2e reachable Mount"_s, u"atspi press tst_e2e reachable"_s,
                           u"title Unmount reachable"_s, u"atspi row tst_e2e reachable Unmount"_s,
                           u"press reachable"_s, u"title Mount reachable"_s};
        QTest::newRow("a password, typed in the dialog")
            << QStringList{u"press password"_s, u"atspi askpass tollvane-e2e"_s,
                           u"title Unmount password"_s, u"press password"_s,
                           u"title Mount password"_s};
        QTest::newRow("a new host key, answered Connect")
            << QStringList{u"press newkey"_s, u"atspi askpass yes"_s, u"title Unmount newkey"_s,
                           u"sh grep -q 127.0.0.1 $D/known_hosts"_s, u"press newkey"_s,
                           u"title Mount newkey"_s};
        QTest::newRow("Cancel") << QStringList{u"press password"_s, u"atspi askpass --cancel"_s,
                                               u"title Mount password"_s, u"alert password"_s};
        QTest::newRow("the user's own askpass is the one asked")
            << QStringList{u"env SSH_ASKPASS "_s + dir + u"/askpass"_s, u"press password"_s,
                           u"title Unmount password"_s, u"sh grep -q password: $D/asked"_s,
                           u"press password"_s, u"title Mount password"_s};
        QTest::newRow("a host that never greets")
            << QStringList{u"press silent"_s, u"bound 15"_s, u"title Mount silent"_s,
                           u"alert silent"_s};
        QTest::newRow("a host that never greets, with the user's ConnectTimeout")
            << QStringList{u"press silent3"_s, u"bound 5"_s, u"title Mount silent3"_s,
                           u"alert silent3"_s};
        QTest::newRow("a cut connection comes back by itself")
            << QStringList{u"press reachable"_s, u"title Unmount reachable"_s,
                           u"sh pkill -P $(cat $D/sshd.pid)"_s,
                           u"sh timeout 30 cat $V/reachable/README.txt"_s,
                           u"title Unmount reachable"_s, u"press reachable"_s,
                           u"title Mount reachable"_s};
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
        deadline_ = QDeadlineTimer(QDeadlineTimer::Forever);
        QVERIFY(QFile::exists(sentinels[0])); // /Users is still the environment's own
    }

    void cleanup()
    {
        QProcess::execute(u"pkill"_s, {u"-CONT"_s, u"-f"_s, u"^/usr/bin/sshfs"_s});
        for (const QString& name : std::exchange(environment_, {}))
            qunsetenv(name.toUtf8().constData());
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
