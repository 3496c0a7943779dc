// The compat programs at their fixed paths, driven through "/bin/bash -c" with the command lines
// the application builds, against the sshd of run-in-namespace.sh and Debian's sshfs. Some cases
// put a scripted client over /usr/bin/sshfs (a bind mount inside the test's private namespace)
// to make the real client's output and failures happen on demand.

#include "catalogue/SSHFSServer.h"
#include "compat/MountTable.h"
#include "mount/CommandLine.h"
#include "platform/FileSystem.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A bound for things that take well under a second; never a measurement.
constexpr int patience = 20000;
const QString canary = u"/tmp/tollvane-canary"_s;
const QStringList failurePhrases = {u"Connection refused"_s, u"remote host has disconnected"_s,
                                    u"failed"_s};

bool holdsFailure(const QString& line)
{
    return std::any_of(failurePhrases.begin(), failurePhrases.end(),
                       [&](const QString& phrase) { return line.contains(phrase); });
}

QString volumes()
{
    return qEnvironmentVariable("TOLLVANE_E2E_VOLUMES");
}

// A host entry as the catalogue makes it, but with any name (the parser cuts names at blanks).
std::shared_ptr<SSHFSServer> entry(const QString& host)
{
    auto server = std::make_shared<SSHFSServer>(QString());
    server->host = host;
    server->path = volumes() + u'/' + host;
    QDir().mkpath(server->path);
    return server;
}

qsizetype mountsAt(const QString& path)
{
    MountTable table;
    table.readSelf();
    return qsizetype(table.at(path.toStdString()).size());
}

pid_t childOf(qint64 pid)
{
    QFile children(u"/proc/%1/task/%1/children"_s.arg(pid));
    if (!children.open(QIODevice::ReadOnly))
        return -1;
    return children.readAll().split(' ').value(0).toInt();
}

// One command line run through "/bin/bash -c" in a session of its own, as the application runs
// it, with its standard error gathered line by line.
struct Run
{
    explicit Run(const QString& commandLine)
    {
        process.setProgram(u"/bin/bash"_s);
        process.setArguments({u"-c"_s, commandLine});
        process.setReadChannel(QProcess::StandardError);
        process.setChildProcessModifier([] { setsid(); });
        process.start();
        process.waitForStarted(patience);
    }
    ~Run()
    {
        // A client left behind by a failed check; the adapter itself goes with the QProcess.
        if (const pid_t client = childOf(process.processId()); client > 0)
            kill(client, SIGKILL);
        process.kill();
        process.waitForFinished(patience);
    }

    QStringList lines()
    {
        pending += process.readAllStandardError();
        if (process.state() == QProcess::NotRunning && !pending.isEmpty() &&
            !pending.endsWith('\n'))
            pending += '\n';
        while (pending.contains('\n')) {
            const qsizetype end = pending.indexOf('\n');
            collected << QString::fromUtf8(pending.left(end));
            pending.remove(0, end + 1);
        }
        return collected;
    }
    bool waitForLine(const QString& text)
    {
        QDeadlineTimer deadline(patience);
        while (!deadline.hasExpired()) {
            for (const QString& line : lines()) {
                if (line.contains(text))
                    return true;
            }
            if (process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return false;
    }
    bool finish()
    {
        const bool finished = process.waitForFinished(patience);
        lines();
        return finished;
    }
    qsizetype count(const std::function<bool(const QString&)>& test)
    {
        const QStringList all = lines();
        return std::count_if(all.begin(), all.end(), test);
    }

    QProcess process;
    QByteArray pending;
    QStringList collected;
};

struct Unmount
{
    int exitCode = -1;
    QString out;
    QString err;
};

Unmount unmountWithDiskutil(const QString& commandLine)
{
    QProcess diskutil;
    diskutil.start(u"/bin/bash"_s, {u"-c"_s, commandLine});
    if (!diskutil.waitForFinished(patience))
        return {-1, {}, u"diskutil did not answer"_s};
    return {diskutil.exitCode(), QString::fromUtf8(diskutil.readAllStandardOutput()),
            QString::fromUtf8(diskutil.readAllStandardError())};
}

bool runQuietly(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(patience) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestCompat : public QObject
{
    Q_OBJECT

    // Names a shell would expand (globs, ~, !), each a working host in the configuration. ssh
    // itself refuses names with blanks, quotes, $ ; & | < > ( ) { } or a backslash.| < > ( ) { } or
    // a backslash.)
    const QStringList hostileReachable = {u"star*"_s, u"~tilde!bang"_s, u"caret^x?"_s};
    QString fakeClient;

    // A scripted client over /usr/bin/sshfs until the end of the test function. It records its
    // arguments, and creates nothing but what its script does.
    bool replaceClient(const QString& script)
    {
        const QString dir = qEnvironmentVariable("TOLLVANE_E2E_DIR");
        fakeClient = dir + u"/fake-sshfs"_s;
        QFile file(fakeClient);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write("#!/bin/bash\nhere='" + dir.toUtf8() +
                   "'\nprintf '%s\\n' \"$@\" >\"$here/fake-arguments\"\n" + script.toUtf8() + '\n');
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return runQuietly(u"mount"_s, {u"--bind"_s, fakeClient, u"/usr/bin/sshfs"_s});
    }

private Q_SLOTS:
    void initTestCase()
    {
        const bool privateNamespace = QFileInfo(u"/proc/self/ns/mnt"_s).symLinkTarget() !=
                                      QFileInfo(u"/proc/1/ns/mnt"_s).symLinkTarget();
        if (volumes().isEmpty() || !privateNamespace)
            QSKIP("needs the environment of tests/e2e/run-in-namespace.sh");
        QFile::remove(canary);

        QFile config(qEnvironmentVariable("TOLLVANE_E2E_CONFIG"));
        QVERIFY(config.open(QIODevice::ReadWrite));
        const QString text = QString::fromUtf8(config.readAll());
        const QString reachable = text.section(u"\n\n"_s, 0, 0);
        QVERIFY(reachable.startsWith("Host reachable\n"_L1));
        for (const QString& host : hostileReachable)
            config.write(u"\n\nHost %1%2"_s.arg(host, reachable.mid(14)).toUtf8());
    }

    void cleanup()
    {
        if (!fakeClient.isEmpty())
            QVERIFY(runQuietly(u"umount"_s, {u"/usr/bin/sshfs"_s}));
        fakeClient.clear();
        QVERIFY2(!QFile::exists(canary), "a host name ran a command");
    }

    void mountsReachableHost_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("plain") << u"reachable"_s;
        for (const QString& host : hostileReachable)
            QTest::newRow(qPrintable(host)) << host;
    }
    void mountsReachableHost()
    {
        QFETCH(QString, host);
        const auto server = entry(host);
        Run client(CommandLine::mount(*server));
        QVERIFY2(client.waitForLine(u"statfs"_s), qPrintable(client.lines().join(u'\n')));
        QCOMPARE(client.count(holdsFailure), 0);
        QVERIFY(FileSystem::isMountRoot(server->path));
        const QString remote = qEnvironmentVariable("TOLLVANE_E2E_REMOTE");
        QCOMPARE(QDir(server->path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QDir(remote).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));
        {
            QFile readme(server->path + u"/README.txt"_s);
            QVERIFY(readme.open(QIODevice::ReadOnly));
            QCOMPARE(readme.readAll(), "Files served by the test sshd.\n");
        }
        QCOMPARE(client.process.state(), QProcess::Running);

        const Unmount unmount = unmountWithDiskutil(CommandLine::unmount(*server));
        QCOMPARE(unmount.err, QString());
        QCOMPARE(unmount.out, u"Unmount of all volumes on %1 was successful\n"_s.arg(server->path));
        QCOMPARE(unmount.exitCode, 0);
        QVERIFY(client.finish());
        QCOMPARE(mountsAt(server->path), 0);
    }

    void reportsFailureOnce_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("reason"); // in the one line that sets off the alert
        QTest::newRow("refused") << u"refused"_s << u"ssh: connect to host 127.0.0.1"_s;
        QTest::newRow("unresolvable") << u"unresolvable"_s << u"Could not resolve hostname"_s;
        QTest::newRow("blank") << u"we ird"_s << u"invalid characters"_s;
        QTest::newRow("semicolon") << u"x;touch /tmp/tollvane-canary"_s << u"invalid characters"_s;
        QTest::newRow("quote, dollar")
            << u"it's$(touch /tmp/tollvane-canary)"_s << u"invalid characters"_s;
        QTest::newRow("backquote") << u"`touch /tmp/tollvane-canary`"_s << u"invalid characters"_s;
        QTest::newRow("dash") << u"-oProxyCommand=touch /tmp/tollvane-canary"_s
                              << u"must not begin with \"-\""_s;
        QTest::newRow("bracketed dash")
            << u"[-oProxyCommand=touch /tmp/tollvane-canary]"_s << u"must not begin with \"-\""_s;
    }
    void reportsFailureOnce()
    {
        QFETCH(QString, host);
        QFETCH(QString, reason);
        const auto server = entry(host);
        Run client(CommandLine::mount(*server));
        QVERIFY(client.finish());
        const QString output = client.lines().join(u'\n');
        QVERIFY2(client.count(holdsFailure) == 1, qPrintable(output));
        const QStringList hits = client.lines().filter(
            QRegularExpression(u"Connection refused|remote host has disconnected|failed"_s));
        QVERIFY2(hits.value(0).contains(reason), qPrintable(output));
        QVERIFY2(!output.contains("statfs"_L1), qPrintable(output));
        QVERIFY(client.process.exitCode() != 0);
        QCOMPARE(mountsAt(server->path), 0);
    }

    void forwardsClientOutput_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("forwarded");
        QTest::addColumn<QString>("closing");
        QTest::addColumn<int>("exitCode");
        const QString ready = u"while [ ! -e \"$here/go\" ]; do sleep 0.02; done\n"_s;
        QTest::newRow("lines as they come") << u"echo first\n"_s + ready + u"echo second; exit 3"_s
                                            << QStringList{u"first"_s, u"second"_s}
                                            << u"sshfs: mount of alpha failed: second"_s << 3;
        QTest::newRow("last line without line feed")
            << u"printf 'one\\ntwo\\nthree'; exit 1"_s
            << QStringList{u"one"_s, u"two"_s, u"three"_s}
            << u"sshfs: mount of alpha failed: three"_s << 1;
        QTest::newRow("client chatter is no reason")
            << u"echo 'SSHFS version 3.7.3'; echo 'ssh: no route'; echo 'read: Connection reset by peer'; exit 1"_s
            << QStringList{u"SSHFS version 3.7.3"_s, u"ssh: no route"_s,
                           u"read: Connection reset by peer"_s}
            << u"sshfs: mount of alpha failed: ssh: no route"_s << 1;
        QTest::newRow("phrase already forwarded")
            << u"echo 'remote host has disconnected'; exit 1"_s
            << QStringList{u"remote host has disconnected"_s} << u"sshfs: alpha: not mounted"_s
            << 1;
        QTest::newRow("ends well without a mount")
            << u"exit 0"_s << QStringList{}
            << u"sshfs: mount of alpha failed: the client exited with status 0"_s << 1;
        QTest::newRow("killed")
            << u"kill -KILL $$"_s << QStringList{}
            << u"sshfs: mount of alpha failed: the client exited with status 137"_s << 137;
    }
    void forwardsClientOutput()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, forwarded);
        QFETCH(QString, closing);
        QFETCH(int, exitCode);
        QVERIFY(replaceClient(script));
        const QString go = QFileInfo(fakeClient).dir().filePath(u"go"_s);
        QFile::remove(go);
        const auto server = entry(u"alpha"_s);
        Run client(CommandLine::mount(*server));
        if (!forwarded.isEmpty()) {
            // The next line comes only once this one has arrived: nothing may wait for more.
            QVERIFY(client.waitForLine(forwarded.first()));
            QFile(go).open(QIODevice::WriteOnly);
        }
        QVERIFY(client.finish());
        QCOMPARE(client.lines(), forwarded + QStringList{closing});
        QCOMPARE(client.process.exitCode(), exitCode);

        QFile arguments(QFileInfo(fakeClient).dir().filePath(u"fake-arguments"_s));
        QVERIFY(arguments.open(QIODevice::ReadOnly));
        const QString config = qEnvironmentVariable("TOLLVANE_E2E_CONFIG");
        QCOMPARE(QString::fromUtf8(arguments.readAll()).split(u'\n', Qt::SkipEmptyParts),
                 (QStringList{u"-f"_s, u"-o"_s, u"debug"_s, u"-F"_s, config, u"--"_s, u"alpha:/"_s,
                              server->path}));
    }

    // A client that mounts and stays; a signal to the adapter reaches it, so it unmounts. The
    // names are written escaped in the mount table.
    void passesSignalsOn_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("plain") << u"alpha"_s;
        QTest::newRow("blank, tab") << u"we ird\tname"_s;
        QTest::newRow("backslash") << u"back\\040slash"_s;
    }
    void passesSignalsOn()
    {
        QFETCH(QString, host);
        QVERIFY(replaceClient(u"trap 'umount \"${!#}\"; exit 0' TERM\n"
                              "mount -t tmpfs scripted \"${!#}\"\n"
                              "while :; do sleep 0.05; done"_s));
        const auto server = entry(host);
        Run client(CommandLine::mount(*server));
        QVERIFY(client.waitForLine(u"statfs on %1 answered"_s.arg(server->path)));
        QCOMPARE(mountsAt(server->path), 1);
        kill(pid_t(client.process.processId()), SIGTERM);
        QVERIFY(client.finish());
        QCOMPARE(client.process.exitCode(), 0);
        QCOMPARE(mountsAt(server->path), 0);
    }

    void keepsVolumeAfterReaderGone()
    {
        const auto server = entry(u"reachable"_s);
        int pipe[2];
        QVERIFY(pipe2(pipe, O_CLOEXEC) == 0);
        QProcess adapter;
        adapter.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        adapter.setChildProcessModifier([write = pipe[1]] {
            setsid();
            dup2(write, STDERR_FILENO);
        });
        adapter.start(u"/bin/bash"_s, {u"-c"_s, CommandLine::mount(*server)});
        QVERIFY(adapter.waitForStarted(patience));
        close(pipe[1]);
        QByteArray seen;
        QDeadlineTimer deadline(patience);
        while (!seen.contains("statfs") && !deadline.hasExpired()) {
            pollfd readable = {pipe[0], POLLIN, 0};
            char buffer[4096];
            if (poll(&readable, 1, 100) > 0) {
                const ssize_t n = read(pipe[0], buffer, sizeof buffer);
                if (n <= 0)
                    break;
                seen.append(buffer, n);
            }
        }
        close(pipe[0]);
        QVERIFY2(seen.contains("statfs"), seen.constData());

        // Every request makes debug lines: far more than a pipe holds.
        for (int i = 0; i < 1000; ++i) {
            QFile readme(server->path + u"/README.txt"_s);
            QVERIFY(readme.open(QIODevice::ReadOnly));
            QCOMPARE(readme.readAll().size(), 31);
            QVERIFY(QDir(server->path + u"/Documents"_s).exists());
        }
        QCOMPARE(adapter.state(), QProcess::Running);
        QVERIFY(childOf(adapter.processId()) > 0);
        QCOMPARE(unmountWithDiskutil(CommandLine::unmount(*server)).exitCode, 0);
        QVERIFY(adapter.waitForFinished(patience));
    }

    void unmounts_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QString done = u"Unmount of all volumes on %1 was successful\n"_s;
        QTest::newRow("file open inside") << u"open"_s << 0 << done << QString();
        QTest::newRow("working directory inside") << u"cwd"_s << 0 << done << QString();
        QTest::newRow("client stopped") << u"stopped"_s << 0 << done << QString();
        QTest::newRow("stacked tmpfs") << u"stacked"_s << 0 << done << QString();
        QTest::newRow("not mounted")
            << u"none"_s << 1 << QString() << u"Unmount of %1 failed: not mounted\n"_s;
        QTest::newRow("other verb")
            << u"verb"_s << 1 << QString() << u"Usage: diskutil unmountDisk force MountPoint\n"_s;
    }
    void unmounts()
    {
        QFETCH(QString, situation);
        QFETCH(int, exitCode);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const auto server = entry(situation == "stacked"_L1 ? u"st ack\\ed"_s : u"reachable"_s);
        std::unique_ptr<Run> client;
        QProcess holder;
        const auto end = qScopeGuard([&] {
            holder.kill();
            holder.waitForFinished(patience);
            if (client) {
                if (const pid_t real = childOf(client->process.processId()); real > 0)
                    kill(real, SIGCONT);
            }
        });
        if (situation == "stacked"_L1) {
            QVERIFY(runQuietly(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"one"_s, server->path}));
            QVERIFY(runQuietly(u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"two"_s, server->path}));
        } else if (situation != "none"_L1 && situation != "verb"_L1) {
            client = std::make_unique<Run>(CommandLine::mount(*server));
            QVERIFY(client->waitForLine(u"statfs"_s));
        }
        if (situation == "open"_L1) {
            holder.start(u"/bin/bash"_s, {u"-c"_s, u"exec 3<\"$0\"; echo; exec sleep 600"_s,
                                          server->path + u"/README.txt"_s});
            QVERIFY(holder.waitForReadyRead(patience));
        } else if (situation == "cwd"_L1) {
            holder.setWorkingDirectory(server->path);
            holder.start(u"/bin/sleep"_s, {u"600"_s});
            QVERIFY(holder.waitForStarted(patience));
        } else if (situation == "stopped"_L1) {
            const pid_t real = childOf(client->process.processId());
            QVERIFY(real > 0);
            QCOMPARE(kill(real, SIGSTOP), 0);
        }
        const QString commandLine = situation == "verb"_L1
                                        ? u"/usr/sbin/diskutil unmount "_s + server->path
                                        : CommandLine::unmount(*server);
        const Unmount unmount = unmountWithDiskutil(commandLine);
        QCOMPARE(unmount.err, err.contains("%1"_L1) ? err.arg(server->path) : err);
        QCOMPARE(unmount.out, out.contains("%1"_L1) ? out.arg(server->path) : out);
        QCOMPARE(unmount.exitCode, exitCode);
        QCOMPARE(mountsAt(server->path), 0);
        if (client && situation != "stopped"_L1) {
            // A lazy unmount ends the connection once the last user of the volume has gone.
            holder.kill();
            QVERIFY(holder.waitForFinished(patience));
            QVERIFY(client->finish());
        }
    }
};

QTEST_GUILESS_MAIN(TestCompat)
#include "tst_compat.moc"
