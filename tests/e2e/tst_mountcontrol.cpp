// The coordinator against real parts: the compat programs at their fixed paths, Debian's sshfs,
// FUSE and the sshd of run-in-namespace.sh, driven under a Qt event loop the way the window
// drives it.

#include "Fakes.h"
#include "mount/Tollvane.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <future>

using namespace Qt::StringLiterals;

namespace {

constexpr int patience = 30000; // a bound for things that take well under a second

QString env(const char* name)
{
    return qEnvironmentVariable(name);
}

QString canary()
{
    return env("TOLLVANE_E2E_DIR") + "/canary"_L1;
}

// Host names a hostile configuration could hold (no blanks: the parser cuts names there).
QStringList hostileNames()
{
    const QString c = canary();
    return {"$(touch${IFS}"_L1 + c + u')',
            "`touch${IFS}"_L1 + c + u'`',
            "x;touch${IFS}"_L1 + c,
            "x|touch${IFS}"_L1 + c,
            "-oProxyCommand=touch${IFS}"_L1 + c,
            "x'\"$(touch${IFS}"_L1 + c + ")\"'"_L1};
}

QStringList filesUnder(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next().mid(root.size() + 1);
    files.sort();
    return files;
}

// The process ids of Debian's sshfs clients serving `mountPoint`.
QList<pid_t> clientsOf(const QString& mountPoint)
{
    QList<pid_t> pids;
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        QFile cmdline(u"/proc/"_s + pid + u"/cmdline"_s);
        if (!pid.toInt() || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.value(0) == "/usr/bin/sshfs" && args.contains(QFile::encodeName(mountPoint)))
            pids << pid.toInt();
    }
    return pids;
}

} // namespace

class TestMountControl : public QObject
{
    Q_OBJECT

    FakePlatform fakes_;
    std::unique_ptr<Tollvane> coordinator_;
    LockedLines ended_; // the command lines of the commands that have exited

    std::shared_ptr<SSHFSServer> server(const QString& host)
    {
        for (const auto& s : coordinator_->config->servers) {
            if (s->host == host)
                return s;
        }
        qFatal("no host %s in the configuration", qPrintable(host));
    }

    // What a press on "Mount" does.
    void pressMount(const std::shared_ptr<SSHFSServer>& s)
    {
        coordinator_->scheduleCommand(s, false, false);
        s->removeMountPoint();
        s->createMountPoint();
        coordinator_->scheduleCommand(s, true, true);
    }

    // Mounts and waits for the confirmation; true when it came and the volume is there.
    bool mount(const std::shared_ptr<SSHFSServer>& s)
    {
        pressMount(s);
        return QTest::qWaitFor([&] { return !s->handling; }, patience) && s->isMounted();
    }

    bool unmount(const std::shared_ptr<SSHFSServer>& s)
    {
        coordinator_->scheduleCommand(s, false, true);
        return QTest::qWaitFor([&] { return !s->handling; }, patience) && !s->isMounted();
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (env("TOLLVANE_E2E_CONFIG").isEmpty())
            QSKIP("run through run-in-namespace.sh");
        QFile config(env("TOLLVANE_E2E_CONFIG"));
        QVERIFY(config.open(QIODevice::ReadWrite));
        // More names for "reachable": its options (its block comes first) under each.
        const QByteArray all = config.readAll(), options = all.left(all.indexOf("\n\n"));
        QStringList extra{u"chatty"_s, u"nest"_s};
        for (int i = 1; i <= 20; ++i)
            extra << u"r%1"_s.arg(i);
        for (const QString& host : extra)
            config.write("\nHost " + host.toUtf8() + options.mid(options.indexOf('\n')) + '\n');
        for (const QString& host : hostileNames())
            config.write("\nHost " + host.toUtf8() + "\n");
        config.close();

        // Real processes; the client of "chatty" writes 20 MB to its standard error once it has
        // confirmed.
        fakes_.runner->script = [this](const QString& line,
                                       const ProcessRunner::ChunkHandler& out) {
            const bool started = ProcessRunner().run(
                u"/bin/bash"_s,
                {u"-c"_s, !line.startsWith("/usr/local/bin/sshfs chatty:/"_L1)
                              ? line
                              : u"echo 'client: statfs answered' >&2; "
                                "head -c 20000000 /dev/zero | tr '\\0' x | fold -w 1000 >&2"_s},
                out);
            ended_.append(line);
            return started;
        };
        coordinator_ = std::make_unique<Tollvane>(env("TOLLVANE_E2E_CONFIG"), fakes_.platform());
        QVERIFY(coordinator_->config);
    }

    void mountAndUnmountAReachableHost()
    {
        auto s = server(u"reachable"_s);
        pressMount(s);
        QVERIFY(s->handling);
        QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
        QVERIFY(s->isMounted());
        QCOMPARE(filesUnder(s->path), filesUnder(env("TOLLVANE_E2E_REMOTE")));
        QVERIFY(fakes_.output->lines().join(u'\n').contains("statfs"_L1)); // echoed

        ReloadCounter reloads;
        coordinator_->scheduleCommand(s, false, true);
        QVERIFY(s->handling);
        QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
        QVERIFY(!s->isMounted());
        QVERIFY(!FileSystem::exists(s->path));
        QCOMPARE(reloads.count(), 2);
        QCOMPARE(fakes_.alert->shown(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(clientsOf(s->path), QList<pid_t>(), patience); // client gone
    }

    void failedConnections_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("refused") << u"refused"_s;
        QTest::newRow("unresolvable") << u"unresolvable"_s;
        for (const QString& name : hostileNames())
            QTest::newRow(qPrintable(name)) << name;
    }

    void failedConnections()
    {
        QFETCH(QString, host);
        auto s = server(host);
        const auto alertsBefore = fakes_.alert->shown().size();
        const auto commandsBefore = fakes_.runner->commandLines().size();
        pressMount(s);
        QTRY_COMPARE_WITH_TIMEOUT(fakes_.alert->shown().size(), alertsBefore + 1, patience);
        QCOMPARE(fakes_.alert->shown().last(), "Error|Couldn't connect to "_L1 + host);
        QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
        // The clean-up unmount, the mount, and the unmount that the failure requested.
        QTRY_COMPARE(fakes_.runner->commandLines().size(), commandsBefore + 3);
        QVERIFY(fakes_.runner->commandLines().last().startsWith(
            "/usr/sbin/diskutil unmountDisk force "_L1));
        QVERIFY(!s->isMounted());
        QVERIFY(!FileSystem::exists(s->path));
        QTest::qWait(500);
        QCOMPARE(fakes_.alert->shown().size(), alertsBefore + 1); // one alert per failure
        QVERIFY(!QFile::exists(canary()));
    }

    // A client stopped dead: the mount state still answers at once and the unmount still works.
    void stoppedServer()
    {
        auto s = server(u"reachable"_s);
        QVERIFY(mount(s));
        const QList<pid_t> clients = clientsOf(s->path);
        QCOMPARE(clients.size(), 1);
        auto resume = qScopeGuard([&] { ::kill(clients[0], SIGCONT); });
        QCOMPARE(::kill(clients[0], SIGSTOP), 0);

        auto answer = std::async(std::launch::async, [s] { return s->isMounted(); });
        QCOMPARE(answer.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        QVERIFY(answer.get());

        QVERIFY(unmount(s));
        QVERIFY(!FileSystem::exists(s->path));
    }

    // Removing a mount point never reaches into a volume mounted below it (the volume on the mount
    // point itself is tst_mountpoints' case).
    void removalGuard()
    {
        const QStringList remote = filesUnder(env("TOLLVANE_E2E_REMOTE"));
        auto outer = server(u"nest"_s);
        outer->createMountPoint();
        const QString inner = outer->path + "/inner"_L1;
        QVERIFY(QDir().mkpath(inner));
        QProcess sshfs;
        sshfs.start(u"/usr/local/bin/sshfs"_s, {u"reachable:/"_s, inner});
        QVERIFY(QTest::qWaitFor([&] { return FileSystem::isMountRoot(inner); }, patience));
        QTRY_COMPARE_WITH_TIMEOUT(filesUnder(inner), remote, patience);
        coordinator_->scheduleCommand(outer, false, true); // nothing mounted on outer itself
        QTRY_VERIFY_WITH_TIMEOUT(!outer->handling, patience);
        QVERIFY(FileSystem::isMountRoot(inner));
        QCOMPARE(filesUnder(inner), remote);
        QCOMPARE(filesUnder(env("TOLLVANE_E2E_REMOTE")), remote);
        QProcess::execute(u"/usr/sbin/diskutil"_s, {u"unmountDisk"_s, u"force"_s, inner});
        QVERIFY(sshfs.waitForFinished(patience));
    }

    void twentyMountsAtOnce()
    {
        std::vector<std::shared_ptr<SSHFSServer>> servers;
        for (int i = 1; i <= 20; ++i)
            servers.push_back(server(u"r%1"_s.arg(i)));
        for (const auto& s : servers)
            pressMount(s);
        for (const auto& s : servers) {
            QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
            QVERIFY2(s->isMounted(), qPrintable(s->host));
        }
        QCOMPARE(fakes_.alert->shown().size(), hostileNames().size() + 2); // none new
        for (const auto& s : servers)
            coordinator_->scheduleCommand(s, false, true);
        for (const auto& s : servers) {
            QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
            QVERIFY(!s->isMounted());
        }
    }

    // A client that writes 20 MB to its standard error after confirming is read to its end.
    void chattyClientNeverStalls()
    {
        // Chunks cut lines anywhere, so count the bytes of filler that were echoed.
        const auto fillerBytes = [&] {
            qsizetype bytes = 0;
            for (const QString& line : fakes_.output->lines()) {
                if (!line.isEmpty() && line.count(u'x') == line.size())
                    bytes += line.size();
            }
            return bytes;
        };
        auto s = server(u"chatty"_s);
        pressMount(s);
        QTRY_VERIFY_WITH_TIMEOUT(!s->handling, patience);
        QTRY_COMPARE_WITH_TIMEOUT(ended_().filter("chatty"_L1).size(), 2, 4 * patience);
        QCOMPARE(fillerBytes(), qsizetype(20000000));
        QCOMPARE(fakes_.alert->shown().size(), hostileNames().size() + 2);
    }
};

QTEST_GUILESS_MAIN(TestMountControl)
#include "tst_mountcontrol.moc"
