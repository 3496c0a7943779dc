#include "Fakes.h"
#include "mount/CommandLine.h"
#include "platform/ProcessExit.h"
#include "platform/UserAccount.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <deque>
#include <thread>

using namespace Qt::StringLiterals;

// A process's standard error in chunks separated by "|"; an empty chunk is end of file, and this
// one stands for a process that cannot start.
static const QByteArray kCannotStart = "<cannot start>";

// Runs each job at once, on the thread that queues it; or, holding, keeps each piece of work
// until the test runs it. With both, a row's outcome has no thread and no timing in it.
struct InlineQueue : DispatchQueue
{
    bool hold = false;
    std::deque<std::function<void()>> held;
    void async(std::function<void()> work) override
    {
        hold ? held.push_back(std::move(work)) : work();
    }
};

// The coordinator's jobs with a fake process runner: what each output of a command does to the
// busy mark, the alerts, the posts, the echo and the follow-up unmounts (silent ones); and the
// command lines as bash parses them.
class TestMountJobs : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    std::shared_ptr<SSHFSServer> makeServer(const QString& host)
    {
        auto server = std::make_shared<SSHFSServer>(u"Host "_s + host);
        server->path = dir_.filePath(u"Volumes/"_s + host); // never under the real /Users
        return server;
    }

    // The words bash makes of `line` once its program has been replaced by printf.
    static QStringList wordsOf(QString line, const QString& program)
    {
        QProcess bash;
        if (line.startsWith(program + u' '))
            bash.start(u"/bin/bash"_s,
                       {u"-c"_s, line.replace(0, program.size(), "printf '%s\\0'"_L1)});
        bash.waitForFinished();
        QStringList words = QString::fromUtf8(bash.readAllStandardOutput()).split(QChar(0));
        return words.mid(0, words.size() - 1); // the last word ends with its NUL
    }

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<bool>("mount");
        QTest::addColumn<bool>("handling");
        QTest::addColumn<QByteArray>("chunks");
        QTest::addColumn<int>("alerts");

        QTest::newRow("confirmed") << true << true << "statfs ok\n"_ba << 0;
        QTest::newRow("one alert per line with a failure phrase")
            << true << true
            << "ssh: Connection refused\nremote host has disconnected\nx failed\n"_ba << 3;
        QTest::newRow("a line with both confirms; a later failure line still alerts")
            << true << true << "statfs failed\nmount failed\n"_ba << 1;
        QTest::newRow("case, split phrases, bad UTF-8 hit nothing; the end without a verdict does")
            << true << true
            << "STATFS\nconnection refused\nFailed\n|Connection ref|used\n|\xff failed\n|"_ba << 1;
        QTest::newRow("a last line without line feed")
            << true << true << "first\nmount failed"_ba << 1;
        QTest::newRow("nothing judged after the first hit")
            << true << true << "Connection refused\n|statfs\nfailed\n"_ba << 1;
        QTest::newRow("client cannot start") << true << true << kCannotStart << 1;
        QTest::newRow("unmount: a failure phrase raises no alert")
            << false << true << "Unmount failed: Connection refused\n"_ba << 0;
        QTest::newRow("unmount that cannot start still ends") << false << true << kCannotStart << 0;
    }

    void outcomes()
    {
        QFETCH(bool, mount);
        QFETCH(bool, handling);
        QFETCH(QByteArray, chunks);
        QFETCH(int, alerts);

        FakePlatform fakes;
        auto calls = std::make_shared<std::atomic<int>>(0);
        fakes.runner->script = [=](const QString&, const ProcessRunner::ChunkHandler& out) {
            for (const QByteArray& chunk : ((*calls)++ == 0 ? chunks : QByteArray()).split('|')) {
                if (chunk == kCannotStart)
                    return false;
                out(chunk);
            }
            return true;
        };
        auto main = std::make_shared<InlineQueue>();
        main->hold = true;
        Tollvane coordinator(QString(), {main, std::make_shared<InlineQueue>(), fakes.runner,
                                         fakes.alert, fakes.output});
        auto server = makeServer(u"alpha"_s);
        server->createMountPoint();
        QList<bool> marks; // as the window finds it at each post
        const ReloadObserver observer([&] { marks << server->handling; });
        QList<qsizetype> startedAtAlerts, unmountFirst; // the mount, and an unmount per alert
        fakes.alert->onShow = [&] {
            startedAtAlerts << fakes.runner->commandLines().size();
            unmountFirst << unmountFirst.size() + 2;
        };

        coordinator.scheduleCommand(server, mount, handling);
        for (; !main->held.empty(); main->held.pop_front()) // and the steps they leave in turn
            std::exchange(main->held.front(), {})();
        QVERIFY(!server->handling);
        // Busy at once when asked, and the end is the last state the window is told of.
        QCOMPARE(marks.first(), handling);
        QCOMPARE(marks.last(), false);
        QCOMPARE(fakes.alert->shown(), QStringList(alerts, u"Error|Couldn't connect to alpha"_s));
        QCOMPARE(startedAtAlerts, unmountFirst);

        // The commands, and the mount point gone only after a marked unmount.
        QStringList lines(alerts, CommandLine::unmount(*server));
        lines.prepend(mount ? CommandLine::mount(*server) : CommandLine::unmount(*server));
        QCOMPARE(fakes.runner->commandLines(), lines);
        QCOMPARE(QDir(server->path).exists(), mount ? alerts == 0 : !handling);
    }

    // Host names come from a file and reach "/bin/bash -c": bash itself parses the command lines
    // (no root needed), and each name must reach the client as the very word it is, never as an
    // option. Safe names go in bare. Names with blanks never come out of the parser, but the
    // command lines must not depend on that.
    void hostNamesArriveAsTheyAre_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("bare"); // the first eight, one a line
        const QStringList hosts =
            u"alpha\ndb-1.example.com\nuser@host\na:b\nnested/host\nunder_score\nx%y+z=w,v\n"
            "UPPER9\nmy host\nit's\na;touch /tmp/tollvane-canary\n`id`\n"
            "$(touch /tmp/tollvane-canary)\na|b&&c\n*\n~root\na\"b\\c\nnew\rline\ttab\n"
            "café\n!e{a,b}$HOME\na'\"'b\n''\n-oProxyCommand=touch /tmp/x\n--help\nx\\\n-"_s.split(
                u'\n');
        for (const QString& host : hosts)
            QTest::newRow(qPrintable(host)) << host << (hosts.indexOf(host) < 8);
    }

    void hostNamesArriveAsTheyAre()
    {
        QFETCH(QString, host);
        QFETCH(bool, bare);
        SSHFSServer server{QString()};
        server.host = host;
        server.path = UserAccount::userFolder() + "/Volumes/"_L1 + host;
        const QString mount = CommandLine::mount(server), unmount = CommandLine::unmount(server);
        // The icon's backslash is the fixed text's own: inside the quotes it stays.
        const QString icon = UserAccount::userFolder() +
                             "/Library/Application\\ Support/Tollvane/VolumeIcon.icns"_L1;
        if (bare) { // ordinary names keep the exact text
            QCOMPARE(mount, "/usr/local/bin/sshfs "_L1 + host + ":/ "_L1 + server.path +
                                " -o volname='"_L1 + host + "' -o volicon='"_L1 + icon +
                                "' -o debug"_L1);
            QCOMPARE(unmount, "/usr/sbin/diskutil unmountDisk force "_L1 + server.path);
        }
        const QStringList options{
            u"-o"_s, "volname="_L1 + host, u"-o"_s, "volicon="_L1 + icon, u"-o"_s, u"debug"_s};
        const QStringList operands{host + ":/"_L1, server.path};
        QCOMPARE(wordsOf(mount, u"/usr/local/bin/sshfs"_s),
                 host.startsWith(u'-') ? options + QStringList{u"--"_s} + operands
                                       : operands + options);
        QCOMPARE(wordsOf(unmount, u"/usr/sbin/diskutil"_s),
                 QStringList({u"unmountDisk"_s, u"force"_s, server.path}));
    }

    // A mount waits for the unmounts of its mount point queued before it; nothing else waits.
    // Scheduling returns at once even while every command blocks.
    void mountWaitsForEarlierUnmounts()
    {
        // Unmounts block until go[0], mounts until go[1]; shared, since jobs may outlive a failure.
        auto go = std::make_shared<std::array<std::atomic<bool>, 2>>();
        auto releaseAll = qScopeGuard([go] { (*go)[0] = (*go)[1] = true; });
        FakePlatform fakes;
        fakes.runner->script = [go](const QString& line, const auto&) {
            while (!(*go)[line.startsWith("/usr/sbin"_L1) ? 0 : 1])
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        };
        const LockedLines& started = fakes.runner->commandLines;
        Tollvane coordinator(QString(), fakes.platform());
        auto alpha = makeServer(u"alpha"_s);
        auto beta = makeServer(u"beta"_s);

        coordinator.scheduleCommand(alpha, false, false); // clean-up unmount, held open
        coordinator.scheduleCommand(alpha, true, true);   // must wait for it
        coordinator.scheduleCommand(beta, true, true);    // another mount point: free to go
        QTRY_COMPARE(started().size(), 2);
        QTest::qWait(100);
        QCOMPARE(started().size(), 2);
        QVERIFY(started().filter("sshfs alpha:"_L1).isEmpty());
        coordinator.scheduleCommand(beta, false, true); // unmounts never wait for mounts
        QTRY_COMPARE(started().size(), 3);

        (*go)[0] = true;
        QTRY_COMPARE(started().size(), 4);
        QVERIFY(started().last().startsWith("/usr/local/bin/sshfs alpha:"_L1));
        (*go)[1] = true;
        QTRY_COMPARE(fakes.alert->shown().size(), 2); // both mounts ended without a word
        QTRY_COMPARE(started().size(), 6);
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    TestMountJobs test;
    const int status = QTest::qExec(&test, argc, argv);
    ProcessExit::now(status); // as the application leaves, with job threads still running
}
#include "tst_mountjobs.moc"
