// The compat programs at their fixed paths, driven through "/bin/bash -c" with the command lines
// the application builds. Most cases put a scripted client over /usr/bin/sshfs (a bind mount
// inside the test's private namespace) to make the real client's output and failures happen on
// demand. Mounting real hosts through the coordinator is tst_mountcontrol's part.

#include "catalogue/SSHFSServer.h"
#include "compat/MountTable.h"
#include "mount/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A bound for things that take well under a second; never a measurement.
constexpr int patience = 20000;
const QString realClient = u"/usr/bin/sshfs"_s;

QString scratch(const QString& name)
{
    return qEnvironmentVariable("TOLLVANE_E2E_DIR") + u'/' + name;
}

// A host entry as the catalogue makes it, but with any name (the parser cuts names at blanks).
SSHFSServer entry(const QString& host)
{
    SSHFSServer server{QString()};
    server.host = host;
    QDir().mkpath(server.path = qEnvironmentVariable("TOLLVANE_E2E_VOLUMES") + u'/' + host);
    return server;
}

qsizetype mountsAt(const QString& path)
{
    MountTable table;
    table.readSelf();
    return qsizetype(table.at(path.toStdString()).size());
}

// One command line run through "/bin/bash -c" in a session of its own, as the application runs
// it, with its standard error split into lines.
struct Client
{
    explicit Client(const QString& commandLine)
    {
        process.setChildProcessModifier([] { setsid(); });
        process.start(u"/bin/bash"_s, {u"-c"_s, commandLine});
    }
    ~Client()
    {
        // The whole session: a real client left behind by a failed check goes too.
        if (process.processId() > 0)
            kill(-pid_t(process.processId()), SIGKILL);
        process.waitForFinished(patience);
    }
    QStringList lines()
    {
        seen += process.readAllStandardError();
        QStringList all = QString::fromUtf8(seen).split(u'\n');
        all.removeLast(); // empty, or a line not ended yet
        return all;
    }
    bool waitForLine(const QString& text)
    {
        return QTest::qWaitFor([&] { return !lines().filter(text).isEmpty(); }, patience);
    }
    // Under the event loop it may have ended already, which waitForFinished() takes for failure.
    bool finish() { return process.state() == QProcess::NotRunning || process.waitForFinished(); }

    QProcess process;
    QByteArray seen;
};

} // namespace

class TestCompat : public QObject
{
    Q_OBJECT

    // A scripted client over /usr/bin/sshfs until the end of the test function. It records its
    // arguments, and creates nothing but what its script does.
    bool replaceClient(const QString& script)
    {
        for (const QString& stale : {u"fake-arguments"_s, u"go"_s})
            QFile::remove(scratch(stale));
        QFile file(scratch(u"fake-sshfs"_s));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        file.write("#!/bin/bash\nhere='" + scratch({}).toUtf8() +
                   "'\nprintf '%s\\n' \"$@\" >\"$here/fake-arguments\"\n" + script.toUtf8() + '\n');
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return QProcess::execute(u"mount"_s, {u"--bind"_s, file.fileName(), realClient}) == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Never outside: the scripted client is bound over the system's sshfs.
        if (qEnvironmentVariable("TOLLVANE_E2E_VOLUMES").isEmpty() ||
            QFileInfo(u"/proc/self/ns/mnt"_s).symLinkTarget() ==
                QFileInfo(u"/proc/1/ns/mnt"_s).symLinkTarget())
            QSKIP("needs the environment of tests/e2e/run-in-namespace.sh");
    }

    void cleanup()
    {
        if (mountsAt(realClient) > 0)
            QCOMPARE(QProcess::execute(u"umount"_s, {realClient}), 0);
    }

    void forwardsClientOutput_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("output"); // what the client wrote, then our closing line
        QTest::addColumn<int>("exitCode");
        const QString a = u"alpha"_s;
        const QString failed = u"sshfs: mount of alpha failed: "_s;
        const QString status = failed + u"the client exited with status "_s;
        QTest::newRow("lines as they come")
            << a << u"echo 1st; until [ -e \"$here/go\" ]; do sleep 0.02; done; echo 2nd; exit 3"_s
            << QStringList{u"1st"_s, u"2nd"_s, failed + u"2nd"_s} << 3;
        QTest::newRow("last line without line feed")
            << a << u"printf 'one\\ntwo\\nthree'; exit 1"_s
            << QStringList{u"one"_s, u"two"_s, u"three"_s, failed + u"three"_s} << 1;
        QTest::newRow("client chatter is no reason")
            << a << u"echo 'SSHFS version 3'; echo 'ssh: no route'; echo 'read: x'; exit 1"_s
            << QStringList{u"SSHFS version 3"_s, u"ssh: no route"_s, u"read: x"_s,
                           failed + u"ssh: no route"_s}
            << 1;
        // The application alerts on each line with a failure phrase: only one may hold it.
        QTest::newRow("phrase already forwarded")
            << a << u"echo 'remote host has disconnected'; exit 1"_s
            << QStringList{u"remote host has disconnected"_s, u"sshfs: alpha: not mounted"_s} << 1;
        QTest::newRow("ends well without a mount")
            << a << u"exit 0"_s << QStringList{status + u'0'} << 1;
        QTest::newRow("killed") << a << u"kill -KILL $$"_s << QStringList{status + u"137"_s} << 137;
        // ssh would take these for an option, and ProxyCommand runs a command.
        const QString dashed = u"-oProxyCommand=touch x"_s;
        const QStringList refused{
            u"sshfs: mount of %1 failed: a host name must not begin with \"-\""_s.arg(dashed)};
        QTest::newRow("dash") << dashed << u"exit 0"_s << refused << 1;
        QTest::newRow("bracketed dash") << u'[' + dashed + u']' << u"exit 0"_s << refused << 1;
    }
    void forwardsClientOutput()
    {
        QFETCH(QString, host);
        QFETCH(QString, script);
        QFETCH(QStringList, output);
        QFETCH(int, exitCode);
        QVERIFY(replaceClient(script));
        const SSHFSServer server = entry(host);
        Client client(CommandLine::mount(server));
        if (output.size() > 1) {
            // The next line comes only once this one has arrived: nothing may wait for more.
            QVERIFY(client.waitForLine(output.first()));
            QFile(scratch(u"go"_s)).open(QIODevice::WriteOnly);
        }
        QVERIFY(client.finish());
        QCOMPARE(client.lines(), output);
        QCOMPARE(client.process.exitCode(), exitCode);

        // A dashed name never runs the client.
        QFile arguments(scratch(u"fake-arguments"_s));
        QCOMPARE(arguments.open(QIODevice::ReadOnly), host == "alpha"_L1);
        if (arguments.isOpen())
            QCOMPARE(QString::fromUtf8(arguments.readAll()).split(u'\n', Qt::SkipEmptyParts),
                     (QStringList{u"-f"_s, u"-o"_s, u"debug"_s, u"-F"_s,
                                  qEnvironmentVariable("TOLLVANE_E2E_CONFIG"), u"--"_s,
                                  u"alpha:/"_s, server.path}));
    }

    // A client that mounts and stays until a signal, which the adapter must pass on. The mount
    // table writes blanks, tabs and backslashes escaped.
    void passesSignalsOn_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("signal");
        QTest::newRow("plain, TERM") << u"alpha"_s << SIGTERM;
        QTest::newRow("blank, tab, HUP") << u"we ird\tname"_s << SIGHUP;
        QTest::newRow("backslash, INT") << u"back\\040slash"_s << SIGINT;
    }
    void passesSignalsOn()
    {
        QFETCH(QString, host);
        QFETCH(int, signal);
        QVERIFY(replaceClient(u"trap 'umount \"${!#}\"; exit 0' TERM HUP INT\n"
                              "mount -t tmpfs scripted \"${!#}\"\n"
                              "while :; do sleep 0.05; done"_s));
        const SSHFSServer server = entry(host);
        Client client(CommandLine::mount(server));
        QVERIFY(client.waitForLine(u"statfs on %1 answered"_s.arg(server.path)));
        QCOMPARE(mountsAt(server.path), 1);
        kill(pid_t(client.process.processId()), signal);
        QVERIFY(client.finish());
        QCOMPARE(client.process.exitCode(), 0);
        QCOMPARE(mountsAt(server.path), 0);
    }

    void unmounts_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err"); // none: success
        const QString done = u"Unmount of all volumes on %1 was successful\n"_s;
        QTest::newRow("busy: open file, working directory") << u"reachable"_s << done << QString();
        QTest::newRow("stacked") << u"st ack\\ed"_s << done << QString();
        QTest::newRow("not mounted")
            << u"idle"_s << QString() << u"Unmount of %1 failed: not mounted\n"_s;
        QTest::newRow("other sub-command")
            << u"other"_s << QString() << u"Usage: diskutil unmountDisk force MountPoint\n"_s;
    }
    void unmounts()
    {
        QFETCH(QString, host);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const SSHFSServer server = entry(host);
        for (QString* text : {&out, &err})
            text->replace("%1"_L1, server.path);
        std::unique_ptr<Client> client;
        QProcess holder;
        if (host == "reachable"_L1) {
            client = std::make_unique<Client>(CommandLine::mount(server));
            QVERIFY(client->waitForLine(u"statfs"_s));
            holder.setWorkingDirectory(server.path);
            holder.start(u"/bin/bash"_s, {u"-c"_s, u"exec 3<README.txt; echo; exec sleep 600"_s});
            QVERIFY(holder.waitForReadyRead(patience));
        } else if (host == "st ack\\ed"_L1) {
            for (int i = 0; i < 2; ++i)
                QCOMPARE(QProcess::execute(u"mount"_s, {u"-ttmpfs"_s, u"x"_s, server.path}), 0);
        }
        Client diskutil(host == "other"_L1 ? u"/usr/sbin/diskutil unmount "_s + server.path
                                           : CommandLine::unmount(server));
        QVERIFY(diskutil.finish());
        QCOMPARE(diskutil.process.readAllStandardOutput(), out.toUtf8());
        QCOMPARE(diskutil.process.readAllStandardError(), err.toUtf8());
        QCOMPARE(diskutil.process.exitCode(), err.isEmpty() ? 0 : 1);
        QCOMPARE(mountsAt(server.path), 0);
        if (client) {
            // A lazy unmount ends the connection once the last user of the volume has gone.
            holder.kill();
            QVERIFY(holder.waitForFinished(patience));
            QVERIFY(client->finish());
        }
    }
};

QTEST_GUILESS_MAIN(TestCompat)
#include "tst_compat.moc"
