#include "Fakes.h"
#include "platform/UserAccount.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <thread>

using namespace Qt::StringLiterals;

// A process's standard error in chunks separated by "|"; an empty chunk is end of file, and this
// one stands for a process that cannot start.
static const QByteArray kCannotStart = "<cannot start>";

// The coordinator's jobs with a fake process runner: what each output of a command does to the
// busy mark, the alerts, the posts, the echo and the follow-up unmounts (silent ones).
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

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<bool>("mount");
        QTest::addColumn<bool>("handling");
        QTest::addColumn<QByteArray>("chunks");
        QTest::addColumn<int>("posts");
        // One alert each, after that many posts: its unmount was requested before it came up.
        QTest::addColumn<QList<int>>("alerts");

        QTest::newRow("confirmed") << true << true << "statfs ok\n"_ba << 2 << QList<int>{};
        QTest::newRow("one alert per line with a failure phrase")
            << true << true
            << "ssh: Connection refused\nremote host has disconnected\nx failed\n"_ba << 7
            << QList<int>{2, 3, 4};
        QTest::newRow("a line with both confirms; a later failure line still alerts")
            << true << true << "statfs failed\nmount failed\n"_ba << 4 << QList<int>{3};
        QTest::newRow("case, split phrases, bad UTF-8 hit nothing; the end without a verdict does")
            << true << true
            << "STATFS\nconnection refused\nFailed\n|Connection ref|used\n|\xff failed\n|"_ba << 3
            << QList<int>{2};
        QTest::newRow("a last line without line feed")
            << true << true << "first\nmount failed"_ba << 3 << QList<int>{2};
        QTest::newRow("nothing judged after the first hit")
            << true << true << "Connection refused\n|statfs\nfailed\n"_ba << 3 << QList<int>{2};
        QTest::newRow("client cannot start") << true << true << kCannotStart << 3 << QList<int>{2};
        QTest::newRow("unmount: a failure phrase raises no alert")
            << false << true << "Unmount failed: Connection refused\n"_ba << 2 << QList<int>{};
        QTest::newRow("unmount that cannot start still ends")
            << false << true << kCannotStart << 2 << QList<int>{};
        QTest::newRow("unmount confirmation clears the mark too")
            << false << true << "statfs\n"_ba << 3 << QList<int>{};
        QTest::newRow("clean-up unmount without the mark")
            << false << false << "failed\n"_ba << 1 << QList<int>{};
    }

    void outcomes()
    {
        QFETCH(bool, mount);
        QFETCH(bool, handling);
        QFETCH(QByteArray, chunks);
        QFETCH(int, posts);
        QFETCH(QList<int>, alerts);

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
        Tollvane coordinator(QString(), fakes.platform());
        auto server = makeServer(u"alpha"_s);
        server->createMountPoint();
        ReloadCounter reloads;
        QList<int> postsAtAlerts;
        fakes.alert->onShow = [&] {
            postsAtAlerts << reloads.count();
        };

        coordinator.scheduleCommand(server, mount, handling);
        QTRY_COMPARE(reloads.count(), posts);
        QTRY_VERIFY(!server->handling);
        QTest::qWait(50); // nothing more may follow
        QCOMPARE(reloads.count(), posts);
        QCOMPARE(postsAtAlerts, alerts);
        QCOMPARE(fakes.alert->shown(),
                 QStringList(alerts.size(), u"Error|Couldn't connect to alpha"_s));

        // The exact command lines, and the mount point gone only after a marked unmount.
        const QString unmount = "/usr/sbin/diskutil unmountDisk force "_L1 + server->path;
        QStringList lines(alerts.size(), unmount);
        lines.prepend(mount
                          ? "/usr/local/bin/sshfs alpha:/ "_L1 + server->path +
                                " -o volname='alpha' -o volicon='"_L1 + UserAccount::userFolder() +
                                "/Library/Application\\ Support/Tollvane/VolumeIcon.icns'"
                                " -o debug"_L1
                          : unmount);
        QCOMPARE(fakes.runner->commandLines(), lines);
        QCOMPARE(QDir(server->path).exists(), mount ? alerts.isEmpty() : !handling);
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
        const auto started = [&] {
            return fakes.runner->commandLines();
        };
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

    // A real process that writes 20 MB to its standard error after confirming is read to its end,
    // and echoed: a pipe nobody reads would stall it, and with it the volume.
    void aClientThatKeepsWritingNeverStalls()
    {
        FakePlatform fakes;
        std::atomic<bool> ended = false;
        fakes.runner->script = [&](const QString&, const ProcessRunner::ChunkHandler& out) {
            ProcessRunner().run(u"/bin/bash"_s,
                                {u"-c"_s, u"echo statfs >&2; head -c 20000000 /dev/zero | "
                                          "tr '\\0' x | fold -w 1000 >&2"_s},
                                out);
            return ended = true;
        };
        Tollvane coordinator(QString(), fakes.platform());
        auto server = makeServer(u"chatty"_s);
        coordinator.scheduleCommand(server, true, true);
        QTRY_VERIFY_WITH_TIMEOUT(ended, 60000);
        qsizetype bytes = 0; // chunks cut lines anywhere: count the filler
        for (const QString& line : fakes.output->lines())
            bytes += line.count(u'x');
        QCOMPARE(bytes, qsizetype(20000000));
        QTRY_VERIFY(!server->handling);
        QCOMPARE(fakes.alert->shown(), QStringList());
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    TestMountJobs test;
    const int status = QTest::qExec(&test, argc, argv);
    // As the application leaves: without tearing down what job threads of its own have used.
    std::fflush(nullptr);
    std::_Exit(status);
}
#include "tst_mountjobs.moc"
