// The application against real parts: the window on the configuration of the end-to-end
// environment, the compat programs at their fixed paths, Debian's sshfs, FUSE and the sshd on
// 127.0.0.1, on a private X server and session bus. Alerts are the real message boxes, read and
// closed as a person would. A scenario is a list of steps:
//   press H...        presses each host's button; each row is busy at once
//   mount H..., unmount H..., fail H...
//                     press, then wait for "Unmount", "Mount", or "Mount" and the alerts
//   open H            double-clicks the host's name
//   title T H...      waits until each host's button reads T
//   bound S           those waits end within S seconds of the last press
//   alert H...        these hosts' alerts ("Couldn't connect to H") came, one each, and no
//                     other came in this scenario
//   refresh           the application leaves the front and comes back (rows are rebuilt)
//   sh COMMAND        a shell command that must succeed, with the helpers of compat.sh
//   atspi ARGS...     runs atspi.py ARGS (a screen reader's view of this process, or the askpass)
// After every scenario nothing outside the mount points may have changed.

#include "WindowProbe.h"
#include "app/AppDelegate.h"
#include "compat/common/LeakCheck.h"
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
const QString volumes = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES");
// Files that a mount point walking out of its place would take away.
const QStringList sentinels = {
    u"/Users/.tollvane-e2e"_s, UserAccount::userFolder() + "/sentinel"_L1,
    volumes + "/plain/sentinel"_L1, qEnvironmentVariable("TOLLVANE_E2E_REMOTE") + "/b/sentinel"_L1};

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
        } else if (verb == "refresh"_L1) {
            // The application leaves the front and comes back, as the platform reports it: the X
            // server alone, without a window manager, does not always say so when a window hides.
            for (const auto state : {Qt::ApplicationInactive, Qt::ApplicationActive})
                QWindowSystemInterface::handleApplicationStateChanged<
                    QWindowSystemInterface::SynchronousDelivery>(state);
            return QGuiApplication::applicationState() == Qt::ApplicationActive;
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
        // A name that looks like markup (ssh refuses it as a host name), in sight of a window of
        // the first size; a name that holds a phrase the application reacts to.
        config.write("\n\nHost x<br>y&lt;z\n\nHost a" + options("reachable") +
                     "\n\nHost failed-up" + options("reachable"));
        for (const char* host : {"..", "../..", ".", "x/../plain", "a/b", "system"})
            config.write("\n\nHost "_ba + host);
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
        QTest::addColumn<QStringList>("steps");
        const auto row = [](const char* name, std::initializer_list<const char*> steps) {
            QStringList list;
            for (const char* step : steps)
                list << QString::fromUtf8(step);
            QTest::newRow(name) << list;
        };
        row("refused", {"fail refused", "sh [ ! -e $V/refused ]"});
        row("a name that looks like markup: its row and alert read it as written",
            {"sh setsid -f $TOLLVANE_APP", "atspi press Tollvane x<br>y&lt;z",
             "atspi alert Tollvane Couldn't connect to x<br>y&lt;z",
             "atspi row Tollvane x<br>y&lt;z Mount", "sh pkill -f ^$TOLLVANE_APP"});
        row("mount and unmount through the linked home, a failure phrase in the name",
            {"mount failed-up", "sh diff -r $V/failed-up $R", "unmount failed-up",
             "sh [ ! -e $V/failed-up ]"});
        row("a killed client leaves no dead volume; the host mounts again",
            {"mount reachable",
             "sh pkill -KILL -f \"^/usr/bin/sshfs .*$V/reachable\" && until_ '! grep -q \" "
             "$(readlink -f $V)/reachable \" /proc/self/mountinfo'",
             "refresh", "title Mount reachable", "mount reachable", "unmount reachable"});
        row("mount points outside their place", {"fail .. ../.. . x/../plain"});
        // Listed by its Host line alone: how to reach it stands in the system's file only.
        row("a host set in the system's configuration",
            {"sh printf 'Host system\\n HostName 127.0.0.1\\n Port %s\\n IdentityFile %s\\n "
             "StrictHostKeyChecking no\\n UserKnownHostsFile /dev/null\\n' $TOLLVANE_E2E_PORT "
             "$TOLLVANE_E2E_KEY >$D/ssh_config && chmod 644 $D/ssh_config && mount --bind "
             "$D/ssh_config /etc/ssh/ssh_config",
             "mount system", "unmount system"});
        row("a mount point inside a mounted volume",
            {"mount a", "fail a/b", "unmount a", "sh [ ! -e $V/a/b -a ! -e $V/a ]"});
        // Past the kernel's attribute cache (a second), a question to the stopped client would
        // hang the window.
        row("a stopped client: the window still answers, the unmount still works",
            {"mount reachable", "sh pkill -STOP -f \"^/usr/bin/sshfs .*$V/reachable\" && sleep 2",
             "refresh", "title Unmount reachable", "unmount reachable"});
        // The application itself, as a screen reader sees it and presses it, then ended.
        row("the volume outlives the application that mounted it",
            {"sh setsid -f $TOLLVANE_APP", "atspi row Tollvane reachable Mount",
             "atspi press Tollvane reachable", "atspi row Tollvane reachable Unmount",
             "sh pkill -f ^$TOLLVANE_APP && echo x >$V/reachable/new && rm $R/new", "refresh",
             "title Unmount reachable", "unmount reachable"});
        // The stand-in for the desktop's file manager adds what it opens to $D/opened.
        row("Open: a mounted volume in the file manager, nothing for an unmounted one",
            {"sh rm -f $D/opened", "mount reachable", "open reachable",
             "sh until_ '[ -s $D/opened ]'", "unmount reachable", "sh mkdir $V/reachable",
             "open reachable",
             "sh sleep 1 && rmdir $V/reachable && [ \"$(cat $D/opened)\" = $V/reachable ]"});
        row("a second start: one window, which shows a volume mounted meanwhile",
            {"sh setsid -f $TOLLVANE_APP", "atspi row Tollvane reachable Mount",
             "sh { app reachable 2>$D/err & } && confirmed $D/err && timeout 20 $TOLLVANE_APP",
             "atspi one Tollvane", "atspi row Tollvane reachable Unmount",
             "atspi open Tollvane reachable",
             "sh until_ '[ -s $D/opened ]' && pkill -f ^$TOLLVANE_APP", "refresh",
             "unmount reachable"});
        // Without a keyring, the dialog has no "Remember in keyring".
        row("a password, typed in the dialog", {"press password", "atspi askpass tollvane-e2e",
                                                "title Unmount password", "unmount password"});
        // With one, a ticked answer is stored, and given once to each new ssh: at the next mount,
        // at a reconnect (the transport killed); never to another name for the same account.
        row("a password remembered: no dialog at the next mount, nor at a reconnect, nor in /proc",
            {"sh keyring && set_password Kr-0nly", "press password",
             "atspi askpass --remember Kr-0nly", "title Unmount password",
             "sh secret-tool search --all user tollvane-e2e@127.0.0.1:$TOLLVANE_E2E_PORT 2>&1 | "
             "grep -q \"label = Tollvane: password for password (tollvane-e2e@\"",
             "unmount password", "sh watch_leaks", "mount password",
             "sh kill -KILL $(transport password) && until_ \"cat $V/password/README.txt\" && "
             "no_leaks",
             "unmount password", "press once", "atspi askpass --remember Kr-0nly",
             "title Unmount once", "unmount once"});
        // A stored password changed on the server while the volume is mounted: its reconnect tries
        // it once (accesses until then may fail on the dead connection alone), whatever then ends
        // that ssh (it gives up after one prompt; the server's MaxAuthTries, used up by the keys
        // offered first, ends the connection); the next accesses ask, and the answer ticked
        // replaces it.
        for (const char* host : {"once", "keys"}) {
            QStringList steps;
            for (const char* step :
                 {"sh keyring && set_password Kr-0ld && rm -f $D/c", "press %1",
                  "atspi askpass --remember Kr-0ld", "title Unmount %1",
                  "sh set_password Kr-n3w && : >$D/sshd.log && kill -KILL $(transport %1) &&"
                  " until_ \"! cat $V/%1/README.txt && grep -q 'Failed password' $D/sshd.log\"",
                  "sh { cat $V/%1/README.txt; : >$D/c; } &",
                  "atspi askpass --remember --refused --cancel",
                  "sh until_ '[ -e $D/c ]' && { cat $V/%1/README.txt >$D/read & }",
                  "atspi askpass --remember --refused Kr-n3w",
                  "sh until_ '[ -s $D/read ]' && [ $(grep -c 'Failed password for' $D/sshd.log) "
                  "= 1 ] && secret-tool lookup user tollvane-e2e@127.0.0.1:$TOLLVANE_E2E_PORT | "
                  "grep -qx Kr-n3w",
                  "unmount %1"})
                steps << QString::fromUtf8(step).replace("%1"_L1, QLatin1StringView(host));
            QTest::addRow("stored password changed (%s): one failed attempt, then the dialog", host)
                << steps;
        }
        // Its unlock prompts cancelled, the one of the lookup and the one of the answer ticked to
        // be stored; then left open: no lookup waits longer than 5 s, and its file stays as it was.
        row("a locked keyring: the dialog within 6 s, nothing stored",
            {"sh keyring && set_password Kr-l0ck", "press password",
             "atspi askpass --remember Kr-l0ck", "title Unmount password", "unmount password",
             "sh set_password Kr-n3w && lock_keyring", "press password",
             "atspi button gcr-prompter Cancel", "atspi askpass --remember Kr-n3w",
             "atspi button gcr-prompter Cancel", "title Unmount password", "unmount password",
             "sh date +%s%N >$D/t0", "press password",
             "sh until_ \"$asking\" && (( $(date +%s%N) - $(<$D/t0) < 6000000000 ))",
             "atspi askpass Kr-n3w", "title Unmount password", "unmount password",
             "sh md5sum -c $D/sums"});
        // Debian's system file has ssh hash what it adds to known_hosts.
        row("a new host key, answered Connect",
            {"press newkey", "atspi askpass yes", "title Unmount newkey",
             "sh ssh-keygen -F \"[127.0.0.1]:$TOLLVANE_E2E_PORT\" -f $D/known_hosts >/dev/null",
             "unmount newkey"});
        row("a dialog cancelled",
            {"press password", "atspi askpass --cancel", "title Mount password", "alert password"});
        // ssh takes a failed askpass for an empty password and would send it, three times.
        row("an askpass with no display for its dialog: ssh is ended, no password is tried",
            {"sh : >$D/sshd.log && ! DISPLAY=:404 app password 2>$D/err && grep -q 'no dialog "
             "could be shown' $D/err && ! grep -q 'Failed password' $D/sshd.log"});
        // Its statvfs fails when ConnectTimeout ends the connection; then it stays, deaf to TERM.
        row("a client deaf to TERM on a failed mount: the verdict comes all the same",
            {"sh fake \"$outstays\"", "fail silent3"});
        row("hosts that never greet: ours and the user's ConnectTimeout",
            {"press silent silent3", "bound 5", "title Mount silent3", "bound 15",
             "title Mount silent", "alert silent silent3"});

        // Sleeps, played as systemd suspends a session (see `freeze`): let go of in time, the
        // volume is frozen at once; after the wake, mounted again.
        const auto sleepRow = [&](const char* name, const char* before, const char* after) {
            row(name, {"mount slow",
                       (std::string("sh ") + before +
                        " freeze slow && thaw && woke && connected "
                        "&& reads_within 5 $V/slow/README.txt" +
                        after)
                           .c_str(),
                       "refresh", "title Unmount slow", "unmount slow"});
        };
        sleepRow(
            "sleep, a reader waiting on a dead link: frozen within 1 s, a file reads within 5 s "
            "of the wake",
            "black_hole && reader 'cat $V/slow/README.txt' && sleep 0.5 &&", "");
        sleepRow("sleep, a reader in a loop on a healthy link: the same",
                 "reader 'while :; do cat $V/slow/README.txt; done &>/dev/null' && sleep 0.5 &&",
                 "");
        sleepRow("sleep, an idle volume: the same, and a file open across it fails at once",
                 "exec 3<$V/slow/README.txt &&", " && within 2 bash -c '! read -u 3'");
        // Without a sleep only a dead link is ended: not one that stalls as Wi-Fi re-associates,
        // nor one behind a large upload, nor on another program's word.
        row("roaming: connecting, connected (site) during a 3 s stall, then connected: the same "
            "ssh, and a file opened before reads on",
            {"mount slow",
             "sh exec 3<$V/slow/README.txt && ssh=$(transport slow) && network 40 && stall && "
             "network 60 && sleep 3 && stall && network 70 && sleep 2 && read -r -u 3 && [ "
             "\"$(transport slow)\" = $ssh ]",
             "unmount slow"});
        row("a new network: a connection whose local address is gone is ended at once, and a file "
            "reads within 3 s",
            {"sh unshare --net bash -c 'source $E2E_HELPERS && moved'"});
        row("a network event during a large write over a narrow link: nothing ended",
            {"sh narrow narrow 1048576 && { app narrow 2>$D/err & } && confirmed $D/err && "
             "ssh=$(transport narrow) && { dd if=/dev/zero of=$V/narrow/big bs=1M count=6 "
             "conv=fsync status=none & } && sleep 1 && connected && wait $! && [ \"$(transport "
             "narrow)\" = $ssh ] && rm $V/narrow/big && /usr/sbin/diskutil unmountDisk force "
             "$V/narrow >/dev/null"});
        row("events sent to the adapter, or by a program that owns no service's name: nothing "
            "happens to a volume behind a black hole",
            {"mount slow",
             "sh ssh=$(transport slow) && black_hole && forge slow && sleep 3 && [ \"$(transport "
             "slow)\" = $ssh ]",
             "unmount slow"});
        row("a network event after a black hole: a file opened 2 s later reads within 5 s",
            {"mount slow",
             "sh black_hole && connected && sleep 2 && within 3 cat $V/slow/README.txt",
             "unmount slow"});
        row("a black hole and no event: a read returns within 25 s, and the next one reads",
            {"mount slow",
             "sh black_hole && within 25 sh -c 'cat $V/slow/README.txt; true' && cat "
             "$V/slow/README.txt",
             "unmount slow"});
        // The user's ControlMaster: the connection is the master's, in a session of its own.
        row("a shared connection: after a black hole and a network event, a file reads within 5 s; "
            "nothing of it is left after the unmount",
            {"mount shared", "sh black_hole && connected && reads_within 5 $V/shared/README.txt",
             "unmount shared", "sh until_ '! pgrep -f \"[m]aster-\"'"});
        row("a network event while a reconnect's ssh asks for its password ends nothing; an "
            "unmount "
            "then leaves nothing of the client's",
            {"press password", "atspi askpass tollvane-e2e", "title Unmount password",
             "sh pgrep -f \"^/usr/bin/sshfs .*$V/password\\$\" >$D/client && kill -KILL "
             "$(transport password) && until_ '{ ls $V/password &>/dev/null & } && sleep 0.5 && "
             "pgrep -f [t]ollvane-askpass' && connected && sleep 2 && pgrep -x -g $(<$D/client) "
             "ssh",
             "unmount password", "sh until_ \"! pgrep -g $(<$D/client)\""});

        // The compat programs by themselves, with scripted clients.
        row("adapter: a signal is passed on; a mount point the table writes escaped",
            {"sh mkdir -p \"$V/b l\\ank\" && fake \"$stays\" && { /usr/local/bin/sshfs a:/ \"$V/b "
             "l\\ank\" -o volname=a -o debug 2>$D/err & } && confirmed $D/err && kill $! && wait "
             "$! && ! mountpoint -q \"$V/b l\\ank\""});
        row("diskutil: a busy volume",
            {"sh { app reachable 2>$D/err & } && client=$! && confirmed $D/err && exec 4< <(cd "
             "$V/reachable && exec 3<README.txt && echo && exec sleep 600) && holder=$! && read -u "
             "4 && /usr/sbin/diskutil unmountDisk force $V/reachable && ! mountpoint -q "
             "$V/reachable && kill $holder && wait $client"});
    }

    void scenarios()
    {
        QFETCH(QStringList, steps);
        for (const QString& s : steps) {
            QStringList words = s.split(u' ', Qt::SkipEmptyParts);
            const QString verb = words.takeFirst();
            // Shorthands: a press and the title it ends in, and the alert of a failed mount.
            const QString ends = verb == "mount"_L1 ? u"Unmount"_s : u"Mount"_s;
            if (verb == "mount"_L1 || verb == "unmount"_L1 || verb == "fail"_L1)
                QVERIFY2(step(u"press"_s, words) && step(u"title"_s, QStringList{ends} + words) &&
                             (verb != "fail"_L1 || step(u"alert"_s, words)),
                         qPrintable(s));
            else
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
        QProcess::execute(u"/bin/bash"_s,
                          {u"-c"_s, "source "_L1 + QFINDTESTDATA("compat.sh") +
                                        u"\nthaw; pkill -CONT -f ^/usr/bin/sshfs; "
                                        "while umount /usr/bin/sshfs; do :; done; "
                                        "umount /etc/ssh/ssh_config 2>/dev/null; "
                                        "k=$TOLLVANE_E2E_DIR/keyring.pid; ! [ -e $k ] "
                                        "|| { kill $(<$k) && tail --pid=$(<$k) -f "
                                        "/dev/null; rm $k; echo "
                                        "tollvane-e2e:tollvane-e2e | chpasswd; }"_s});
        // Late ones count against the next scenario.
        QVERIFY2(alertsAsExpected(), qPrintable(alerts_.join(u", ")));
        alerts_.clear();
        expectedAlerts_.clear();
        for (const QString& file : sentinels)
            QVERIFY2(QFile::exists(file), qPrintable(file));
    }
};

// As QTEST_MAIN, with the leak check before Qt unloads its plugins.
int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    TestEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    const int status = QTest::qExec(&test, argc, argv);
    LeakCheck::now();
    return status;
}
#include "tst_e2e.moc"
