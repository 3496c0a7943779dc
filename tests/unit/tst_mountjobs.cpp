#include "Fakes.h"
#include "mount/Tollvane.h"

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

// The jobs of the coordinator with a fake process runner: what each outcome of a command does to
// the busy mark, the alerts, the posts and the follow-up unmounts.
class TestMountJobs : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    std::shared_ptr<SSHFSServer> makeServer(const QString& host)
    {
        auto server = std::make_shared<SSHFSServer>(u"Host "_s + host);
        server->path = dir_.filePath(host); // not under /Users: the test must not touch it
        return server;
    }

    // The first command plays `first`, every later one `later`.
    static FakeProcessRunner::Script play(const QByteArray& first, const QByteArray& later)
    {
        auto calls = std::make_shared<std::atomic<int>>(0);
        return [=](const QString&, const ProcessRunner::ChunkHandler& chunks) {
            for (const QByteArray& chunk : ((*calls)++ == 0 ? first : later).split('|')) {
                if (chunk == kCannotStart)
                    return false;
                chunks(chunk);
            }
            return true;
        };
    }

private Q_SLOTS:
    // Every unmount that a failure leads to fails as well, and must not raise an alert of its own.
    void outcomes_data()
    {
        QTest::addColumn<bool>("mount");
        QTest::addColumn<bool>("handling");
        QTest::addColumn<int>("failures"); // alerts, and follow-up unmounts: one each
        QTest::addColumn<int>("posts");
        QTest::addColumn<QByteArray>("chunks");

        // Mounts
        QTest::newRow("confirmed") << true << true << 0 << 2 << "statfs ok\n"_ba;
        QTest::newRow("refusal then exit gives one alert")
            << true << true << 1 << 3 << "ssh: Connection refused\n|"_ba;
        QTest::newRow("two failure lines in one chunk give two alerts")
            << true << true << 2 << 5 << "Connection refused\nx failed\n"_ba;
        QTest::newRow("client ends with unrelated lines")
            << true << true << 1 << 3 << "debug: hello\n|\xff\n|"_ba;
        QTest::newRow("client cannot start") << true << true << 1 << 3 << kCannotStart;
        QTest::newRow("failure after confirmation is ignored")
            << true << true << 0 << 2 << "statfs\n|remote host has disconnected\n"_ba;
        // Unmounts
        QTest::newRow("unmount failure raises no alert")
            << false << true << 0 << 2 << "Unmount failed: Connection refused\n"_ba;
        QTest::newRow("unmount that cannot start still ends")
            << false << true << 0 << 2 << kCannotStart;
        QTest::newRow("unmount confirmation line clears the mark too")
            << false << true << 0 << 3 << "statfs\n"_ba;
        QTest::newRow("clean-up unmount without busy mark")
            << false << false << 0 << 1 << "failed\n"_ba;
    }

    void outcomes()
    {
        QFETCH(bool, mount);
        QFETCH(bool, handling);
        QFETCH(int, failures);
        QFETCH(int, posts);
        QFETCH(QByteArray, chunks);

        FakePlatform fakes;
        fakes.runner->script = play(chunks, "Unmount failed: Connection refused\n"_ba);
        Tollvane coordinator(QString(), fakes.platform());
        auto server = makeServer(u"alpha"_s);
        QDir().mkpath(server->path);

        ReloadCounter reloads;
        bool markedWhenPosted = !handling;
        auto& center = NotificationCenter::defaultCenter();
        const auto token = center.addObserver(Tollvane::reloadServers,
                                              [&] { markedWhenPosted = server->handling; });
        coordinator.scheduleCommand(server, mount, handling);
        center.removeObserver(token);
        QCOMPARE(markedWhenPosted, handling); // the mark is set before the post announces it
        QCOMPARE(reloads.count(), 1);

        QTRY_COMPARE(fakes.runner->commandLines().size(), 1 + failures);
        QTRY_COMPARE(reloads.count(), posts);
        QTRY_VERIFY(!server->handling);
        QTest::qWait(50); // nothing more may follow
        QCOMPARE(reloads.count(), posts);
        QCOMPARE(fakes.runner->commandLines().size(), 1 + failures);
        QCOMPARE(fakes.alert->shown(), QStringList(failures, u"Error|Couldn't connect to alpha"_s));
        for (const QString& line : fakes.runner->commandLines().mid(1))
            QVERIFY(line.startsWith("/usr/sbin/diskutil unmountDisk force "_L1));
        // The mount point goes only after an unmount that carried the busy mark.
        QCOMPARE(QDir(server->path).exists(), mount ? failures == 0 : !handling);
    }

    // A mount waits for the unmounts of its mount point queued before it; nothing else waits.
    // Scheduling returns at once even while every command blocks.
    void mountWaitsForEarlierUnmounts()
    {
        // Unmounts block until go[0], mounts until go[1]; shared, since jobs may outlive a failure.
        auto go = std::make_shared<std::array<std::atomic<bool>, 2>>();
        auto started = std::make_shared<LockedLines>();
        auto releaseAll = qScopeGuard([go] { (*go)[0] = (*go)[1] = true; });
        FakePlatform fakes;
        fakes.runner->script = [go, started](const QString& line, const auto&) {
            const bool unmount = line.startsWith("/usr/sbin"_L1);
            started->append((unmount ? u"unmount "_s : u"mount "_s) +
                            (line.contains("alpha"_L1) ? u"alpha"_s : u"beta"_s));
            while (!(*go)[unmount ? 0 : 1])
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return true;
        };
        Tollvane coordinator(QString(), fakes.platform());
        auto alpha = makeServer(u"alpha"_s);
        auto beta = makeServer(u"beta"_s);

        coordinator.scheduleCommand(alpha, false, false); // clean-up unmount, held open
        coordinator.scheduleCommand(alpha, true, true);   // must wait for it
        coordinator.scheduleCommand(beta, true, true);    // another mount point: free to go
        QTRY_COMPARE((*started)().size(), 2);
        QTest::qWait(100);
        QCOMPARE((*started)().size(), 2);
        QVERIFY(!(*started)().contains(u"mount alpha"_s));

        coordinator.scheduleCommand(beta, false, true); // unmounts never wait for mounts
        QTRY_COMPARE((*started)().size(), 3);

        (*go)[0] = true;
        QTRY_COMPARE((*started)().size(), 4);
        QCOMPARE((*started)().last(), u"mount alpha"_s);
        (*go)[1] = true;
        QTRY_COMPARE(fakes.alert->shown().size(), 2); // both mounts ended without a word
        QTRY_COMPARE(fakes.runner->commandLines().size(), 6);
    }

    void connectionErrorRequestsTheUnmountBeforeTheAlert()
    {
        FakePlatform fakes;
        Platform platform = fakes.platform(std::make_shared<InlineQueue>());
        platform.mainQueue = std::make_shared<InlineQueue>();
        Tollvane coordinator(QString(), platform);
        qsizetype commandsAtAlert = -1;
        fakes.alert->onShow = [&] {
            commandsAtAlert = fakes.runner->commandLines().size();
        };
        makeServer(u"gamma"_s)->showConnectionError(coordinator);
        QCOMPARE(commandsAtAlert, 1);
        QVERIFY(fakes.runner->commandLines()[0].startsWith("/usr/sbin/diskutil"_L1));
        QCOMPARE(fakes.alert->shown(), QStringList{u"Error|Couldn't connect to gamma"_s});
    }
};

QTEST_GUILESS_MAIN(TestMountJobs)
#include "tst_mountjobs.moc"
