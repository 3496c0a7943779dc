// The application against real parts: the window on the configuration of the end-to-end
// environment, the compat programs at their fixed paths, Debian's sshfs, FUSE and the sshd on
// 127.0.0.1, on a private X server and session bus. Alerts are the real message boxes, read and
// closed as a person would. A scenario is a list of steps, separated by " ; ":
//   press H...        presses each host's button; each row is busy at once
//   open H            double-clicks the host's name
//   title T H...      waits until each host's button reads T
//   bound S           those waits end within S seconds of the last press
//   alert H...        these hosts' alerts ("Couldn't connect to H") came, one each, and no
//                     other came in this scenario
//   absent H...       no mount point is left
//   refresh           the application leaves the front and comes back (rows are rebuilt)
//   env NAME VALUE    sets the application's environment for the rest of the scenario
//   sh COMMAND        a shell command that must succeed, with the helpers of compat.sh
//   atspi ARGS...     runs atspi.py ARGS (a screen reader's view of this process, or the askpass)
// After every scenario nothing outside the mount points may have changed.

#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "platform/UserAccount.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // a bound for things that take well under a second
const QString dir = qEnvironmentVariable("TOLLVANE_E2E_DIR");
const QString volumes = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES");
const QString canary = dir + "/canary"_L1;
// Files that a mount point walking out of its place would take away.
const QStringList sentinels = {
    u"/Users/.tollvane-e2e"_s, UserAccount::userFolder() + "/sentinel"_L1,
    volumes + "/plain/sentinel"_L1, qEnvironmentVariable("TOLLVANE_E2E_REMOTE") + "/b/sentinel"_L1};

// Host names a hostile configuration could hold (no blanks: the parser cuts names there), through
// the whole chain; how bash parses every kind of name is tst_mountjobs' table.
const QStringList hostile = {"-oProxyCommand=touch${IFS}"_L1 + canary + u';',
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

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    AppDelegate delegate_{*qApp};
    std::unique_ptr<SSHFSTable> window_;
    // This scenario's, "Error|Couldn't connect to H", in order: one failure gives one alert.
    QStringList alerts_, expectedAlerts_;

    bool alertsAsExpected()
    {
        alerts_.sort();
        expectedAlerts_.sort();
        return alerts_ == expectedAlerts_;
    }
    QElapsedTimer sincePress_;
    QDeadlineTimer deadline_;
    QStringList environment_; // set for this scenario

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
        } else if (verb == "open"_L1) {
            const qsizetype row = probe.shownHosts().indexOf(args[0]);
            QTest::mouseDClick(probe.rows().value(row)->label(), Qt::LeftButton);
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
            for (const QString& host : args)
                expectedAlerts_ << "Error|Couldn't connect to "_L1 + host;
            return QTest::qWaitFor([&] { return alertsAsExpected(); }, patience);
        } else if (verb == "absent"_L1) {
            return std::none_of(args.begin(), args.end(), [&](const QString& host) {
                return QFileInfo::exists(volumes + u'/' + host);
            });
        } else if (verb == "refresh"_L1) {
            // The application leaves the front and comes back, as the platform reports it: the X
            // server alone, without a window manager, does not always say so when a window hides.
            for (const auto state : {Qt::ApplicationInactive, Qt::ApplicationActive})
                QWindowSystemInterface::handleApplicationStateChanged<
                    QWindowSystemInterface::SynchronousDelivery>(state);
            return QGuiApplication::applicationState() == Qt::ApplicationActive;
        } else if (verb == "env"_L1) {
            environment_ << args[0];
            qputenv(args[0].toUtf8().constData(), args[1].toUtf8());
        } else if (verb == "sh"_L1) {
            return runAlongside(u"/bin/bash"_s,
                                {u"-c"_s, "source "_L1 + QFINDTESTDATA("compat.sh") + u'\n' +
                                              args.join(u' ')}) == 0;
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
        QFile config(qEnvironmentVariable("TOLLVANE_E2E_CONFIG"));
        QVERIFY(config.open(QIODevice::ReadWrite));
        const QByteArray all = config.readAll();
        const auto options = [&](const char* host) { // the block's lines after its Host line
            const QByteArray block = all.mid(all.indexOf("Host "_ba + host + '\n'));
            return block.mid(block.indexOf('\n'), block.indexOf("\n\n") - block.indexOf('\n'));
        };
        // Names that hold the phrases the application reacts to, on hosts that work and not.
        config.write("\n\nHost a" + options("reachable") + "\n\nHost failed-up" +
                     options("reachable") + "\n\nHost statfs-down" + options("refused") +
                     "\n\nHost statfs-name\n    HostName statfs.invalid");
        for (const QString& host :
             hostile + QStringList{u".."_s, u"../.."_s, u"."_s, u"x/../plain"_s, u"a/b"_s})
            config.write("\n\nHost " + host.toUtf8());
        config.close();
        for (const QString& file : sentinels)
            QVERIFY(QDir().mkpath(QFileInfo(file).path()) &&
                    QFile(file).open(QIODevice::WriteOnly));

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

    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        for (const QString& host :
             QStringList{u"refused"_s, u"unresolvable"_s, u"statfs-down"_s, u"statfs-name"_s} +
                 hostile)
            QTest::newRow(qPrintable(host))
                << u"press %1 ; title Mount %1 ; alert %1 ; absent %1"_s.arg(host);
        QTest::newRow("mount and unmount through the linked home")
            << u"press reachable ; title Unmount reachable ; sh diff -r $V/reachable $R ; "
               "press reachable ; title Mount reachable ; absent reachable"_s;
        QTest::newRow("a name holding a failure phrase mounts")
            << u"press failed-up ; title Unmount failed-up ; alert ; press failed-up ; "
               "title Mount failed-up"_s;
        QTest::newRow("a killed client leaves no dead volume; the host mounts again")
            << u"press reachable ; title Unmount reachable ; sh pkill -KILL -f \"^/usr/bin/sshfs "
               ".*$V/reachable\" && timeout 5 bash -c 'while grep -q \" $(readlink -f "
               "$V)/reachable \" /proc/self/mountinfo; do sleep 0.05; done' ; refresh ; "
               "title Mount reachable ; press reachable ; title Unmount reachable ; "
               "press reachable ; title Mount reachable"_s;
        QTest::newRow("mount points outside their place")
            << u"press .. ../.. . x/../plain ; title Mount .. ../.. . x/../plain ; "
               "alert .. ../.. . x/../plain"_s;
        QTest::newRow("a mount point inside a mounted volume")
            << u"press a ; title Unmount a ; press a/b ; title Mount a/b ; alert a/b ; press a ; "
               "title Mount a ; absent a/b a"_s;
        // Past the kernel's attribute cache (a second), a question to the stopped client would
        // hang the window.
        QTest::newRow("a stopped client: the window still answers, the unmount still works")
            << u"press reachable ; title Unmount reachable ; sh pkill -STOP -f \"^/usr/bin/sshfs "
               ".*$V/reachable\" && sleep 2 ; refresh ; title Unmount reachable ; press reachable "
               "; "
               "title Mount reachable"_s;
        // The application itself, as a screen reader sees it and presses it, then ended.
        QTest::newRow("the volume outlives the application that mounted it")
            << u"sh rm -f $D/opened && setsid -f $TOLLVANE_APP ; atspi row Tollvane reachable "
               u"Mount ; atspi press "
               "Tollvane reachable ; atspi row Tollvane reachable Unmount ; sh pkill -f "
               "^$TOLLVANE_APP && echo x >$V/reachable/new && rm $R/new ; refresh ; title Unmount "
               "reachable ; press reachable ; title Mount reachable"_s;
        // The stand-in for the desktop's file manager adds what it opens to $D/opened.
        QTest::newRow("Open: a mounted volume in the file manager, nothing for an unmounted one")
            << u"sh rm -f $D/opened ; press reachable ; title Unmount reachable ; open reachable ; "
               "sh timeout 10 bash "
               "-c 'until [ -s $D/opened ]; do sleep 0.1; done' ; press reachable ; title Mount "
               "reachable ; sh mkdir $V/reachable ; open reachable ; sh sleep 1 && rmdir "
               "$V/reachable && [ \"$(cat $D/opened)\" = $V/reachable ]"_s;
        QTest::newRow("a second start: one window, which shows a volume mounted meanwhile")
            << u"sh setsid -f $TOLLVANE_APP ; atspi row Tollvane reachable Mount ; sh { app "
               "reachable 2>$D/err & } && confirmed $D/err && timeout 20 $TOLLVANE_APP ; atspi one "
               "Tollvane ; atspi row Tollvane reachable Unmount ; atspi open Tollvane reachable ; "
               "sh timeout 10 bash -c 'until [ -s $D/opened ]; do sleep 0.1; done' && pkill -f "
               "^$TOLLVANE_APP ; refresh ; press reachable ; title Mount reachable"_s;
        QTest::newRow("a password, typed in the dialog")
            << u"press password ; atspi askpass tollvane-e2e ; title Unmount password ; "
               "press password ; title Mount password"_s;
        QTest::newRow("a new host key and a stray Enter: nothing trusted")
            << u"press newkey ; atspi askpass --enter ; title Mount newkey ; alert newkey ; "
               "sh ! grep -qs 127.0.0.1 $D/known_hosts"_s;
        QTest::newRow("a new host key, answered Connect")
            << u"press newkey ; atspi askpass yes ; title Unmount newkey ; "
               "sh grep -q 127.0.0.1 $D/known_hosts ; press newkey ; title Mount newkey"_s;
        QTest::newRow("a dialog cancelled")
            << u"press password ; atspi askpass --cancel ; title Mount password ; alert password"_s;
        QTest::newRow("the user's own askpass is the one asked")
            << u"sh rm -f $D/asked ; env SSH_ASKPASS "_s + dir +
                   u"/askpass ; press password ; title Unmount password ; sh grep -q password: "
                   "$D/asked ; press password ; title Mount password"_s;
        QTest::newRow("a host that never greets")
            << u"press silent ; bound 15 ; title Mount silent ; alert silent"_s;
        QTest::newRow("a host that never greets, the user's ConnectTimeout")
            << u"press silent3 ; bound 5 ; title Mount silent3 ; alert silent3"_s;
        QTest::newRow("a cut connection comes back by itself")
            << u"press reachable ; title Unmount reachable ; sh pkill -P $(cat $D/sshd.pid) ; "
               "sh timeout 30 cat $V/reachable/README.txt ; title Unmount reachable ; "
               "press reachable ; title Mount reachable"_s;

        // The compat programs by themselves, with scripted clients.
        QTest::newRow("adapter: lines as they come; ssh's reason; its arguments for the client")
            << u"sh fake 'echo 1st; until [ -e $D/go ]; do sleep 0.02; done; echo ssh: no route; "
               "exit 3' && app alpha 2>&1 | { read -r line; touch $D/go; cat; } | grep -qx "
               "'sshfs: mount of alpha failed: ssh: no route' && [ \"$(tr '\\n' ' ' <$D/args)\" = "
               "\"-f -F /Users/$(id -un)/.ssh/config -o reconnect -o ConnectTimeout=10 -o "
               "ServerAliveInterval=15 -o ServerAliveCountMax=3 -- alpha:/ $V/alpha \" ]"_s;
        QTest::newRow("adapter: the client's phrases defused; bytes that are not UTF-8 as U+FFFD")
            << u"sh fake \"printf 'remote host has disconnected\\nbad \\xff statfs\\n'\" && "
               "! app alpha >$D/err 2>&1 && [ \"$(grep -c -e statfs -e 'Connection refused' -e "
               "'remote host has disconnected' -e failed $D/err)\" = 1 ] && tail -1 $D/err | grep "
               "-qx \"sshfs: mount of alpha failed: bad $(printf '\\xef\\xbf\\xbd') Statfs\""_s;
        QTest::newRow("adapter: a signal is passed on; a mount point the table writes escaped")
            << u"sh mkdir -p \"$V/b l\\ank\" && fake \"$stays\" && { /usr/local/bin/sshfs a:/ \"$V/"
               "b l\\ank\" -o volname=a -o debug 2>$D/err & } && confirmed $D/err && kill $! && "
               "wait $! && ! mountpoint -q \"$V/b l\\ank\""_s;
        QTest::newRow("adapter: a client that outstays its connection is ended")
            << u"sh fake \"$outstays\" && { app reachable 2>$D/err & } && confirmed $D/err && "
               "/usr/sbin/diskutil unmountDisk force $V/reachable && { wait $!; [ $? = 137 ]; }"_s;
        QTest::newRow("diskutil: a busy volume")
            << u"sh { app reachable 2>$D/err & } && client=$! && confirmed $D/err && exec 4< <(cd "
               "$V/reachable && exec 3<README.txt && echo && exec sleep 600) && holder=$! && read "
               "-u 4 && /usr/sbin/diskutil unmountDisk force $V/reachable && ! mountpoint -q "
               "$V/reachable && kill $holder && wait $client"_s;
        QTest::newRow("diskutil: stacked volumes")
            << u"sh mkdir -p $V/st && mount -t tmpfs x $V/st && mount -t tmpfs x $V/st && "
               "/usr/sbin/diskutil unmountDisk force $V/st && ! mountpoint -q $V/st"_s;
    }

    void scenarios()
    {
        QFETCH(QString, steps);
        for (const QString& s : steps.split(u" ; "_s)) {
            QStringList words = s.split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            QVERIFY2(step(verb, words), qPrintable(s));
        }
    }

    void init()
    {
        deadline_ = QDeadlineTimer(QDeadlineTimer::Forever);
        QVERIFY(QFile::exists(sentinels[0])); // /Users is still the environment's own
    }

    void cleanup()
    {
        QProcess::execute(u"/bin/bash"_s, {u"-c"_s, u"pkill -CONT -f ^/usr/bin/sshfs; "
                                                    "while umount /usr/bin/sshfs; do :; done"_s});
        for (const QString& name : std::exchange(environment_, {}))
            qunsetenv(name.toUtf8().constData());
        QVERIFY(!QFile::exists(canary));
        // Late ones count against the next scenario.
        QVERIFY2(alertsAsExpected(), qPrintable(alerts_.join(u", ")));
        alerts_.clear();
        expectedAlerts_.clear();
        for (const QString& file : sentinels)
            QVERIFY2(QFile::exists(file), qPrintable(file));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
