#include "Fakes.h"
#include "mount/Tollvane.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <future>

using namespace Qt::StringLiterals;

// One chunk of standard error, or a pseudo-chunk that stands for something the process does.
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
    static FakeProcessRunner::Script play(QList<QByteArray> first, QList<QByteArray> later)
    {
        auto calls = std::make_shared<std::atomic<int>>(0);
        return [=](const QString&, const ProcessRunner::ChunkHandler& chunks) {
            const auto& script = (*calls)++ == 0 ? first : later;
            for (const QByteArray& chunk : script) {
                if (chunk == kCannotStart)
                    return false;
                chunks(chunk);
            }
            return true;
        };
    }

private Q_SLOTS:
    void outcomes_data()
    {
        QTest::addColumn<bool>("mount");
        QTest::addColumn<bool>("handling");
        QTest::addColumn<QList<QByteArray>>("chunks");    // of the requested command
        QTest::addColumn<QList<QByteArray>>("unmounted"); // of any unmount it leads to
        QTest::addColumn<int>("alerts");
        QTest::addColumn<int>("unmounts"); // follow-up unmount commands
        QTest::addColumn<int>("posts");
        QTest::addColumn<bool>("busyAtEnd");

        const QList<QByteArray> quiet;
        // Mounts
        QTest::newRow("confirmed")
            << true << true << QList<QByteArray>{"statfs ok\n"} << quiet << 0 << 0 << 2 << false;
        QTest::newRow("refused") << true << true
                                 << QList<QByteArray>{"ssh: Connection refused\n", ""} << quiet << 1
                                 << 1 << 3 << false;
        QTest::newRow("failure line then exit gives one alert")
            << true << true << QList<QByteArray>{"mount failed\n"} << quiet << 1 << 1 << 3 << false;
        QTest::newRow("two failure lines in one chunk give two alerts")
            << true << true << QList<QByteArray>{"Connection refused\nx failed\n"} << quiet << 2
            << 2 << 5 << false;
        QTest::newRow("client ends without a word")
            << true << true << QList<QByteArray>{""} << quiet << 1 << 1 << 3 << false;
        QTest::newRow("client ends with unrelated lines")
            << true << true << QList<QByteArray>{"debug: hello\n", "\xff\n", ""} << quiet << 1 << 1
            << 3 << false;
        QTest::newRow("client cannot start")
            << true << true << QList<QByteArray>{kCannotStart} << quiet << 1 << 1 << 3 << false;
        QTest::newRow("failure after confirmation is ignored")
            << true << true << QList<QByteArray>{"statfs\n", "remote host has disconnected\n"}
            << quiet << 0 << 0 << 2 << false;
        QTest::newRow("unmount after refusal fails too")
            << true << true << QList<QByteArray>{"Connection refused\n"}
            << QList<QByteArray>{"Unmount failed\n"} << 1 << 1 << 3 << false;
        // Unmounts
        QTest::newRow("unmount with busy mark")
            << false << true << quiet << quiet << 0 << 0 << 2 << false;
        QTest::newRow("unmount failure raises no alert")
            << false << true << QList<QByteArray>{"Unmount failed: Connection refused\n"} << quiet
            << 0 << 0 << 2 << false;
        QTest::newRow("unmount that cannot start still ends")
            << false << true << QList<QByteArray>{kCannotStart} << quiet << 0 << 0 << 2 << false;
        QTest::newRow("unmount confirmation line clears the mark too")
            << false << true << QList<QByteArray>{"statfs\n"} << quiet << 0 << 0 << 3 << false;
        QTest::newRow("clean-up unmount without busy mark")
            << false << false << QList<QByteArray>{"failed\n"} << quiet << 0 << 0 << 1 << false;
    }

    void outcomes()
    {
        QFETCH(bool, mount);
        QFETCH(bool, handling);
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, unmounted);
        QFETCH(int, alerts);
        QFETCH(int, unmounts);
        QFETCH(int, posts);
        QFETCH(bool, busyAtEnd);

        FakePlatform fakes;
        fakes.runner = std::make_shared<FakeProcessRunner>(play(chunks, unmounted));
        Tollvane coordinator(QString(), fakes.platform());
        auto server = makeServer(u"alpha"_s);
        QDir().mkpath(server->path);

        ReloadCounter reloads;
        coordinator.scheduleCommand(server, mount, handling);
        QCOMPARE(server->handling, handling); // set before the request returns
        QCOMPARE(reloads.count(), 1);         // and announced

        const int commands = 1 + unmounts;
        QTRY_COMPARE(fakes.runner->commandLines().size(), commands);
        QTRY_COMPARE(reloads.count(), posts);
        QTRY_COMPARE(server->handling, busyAtEnd);
        QTest::qWait(50); // nothing more may follow
        QCOMPARE(reloads.count(), posts);
        QCOMPARE(fakes.runner->commandLines().size(), commands);
        QCOMPARE(fakes.alert->shown(), QStringList(alerts, u"Error|Couldn't connect to alpha"_s));
        for (const QString& line : fakes.runner->commandLines().mid(1))
            QVERIFY(line.startsWith("/usr/sbin/diskutil unmountDisk force "_L1));
        // The mount point goes only after an unmount that carried the busy mark.
        const bool finished = (!mount && handling) || unmounts > 0;
        QCOMPARE(QDir(server->path).exists(), !finished);
    }

    // A mount waits for the unmounts of its mount point queued before it; nothing else waits.
    void mountWaitsForEarlierUnmounts()
    {
        std::promise<void> releaseUnmount, releaseMount;
        auto unmountGate = releaseUnmount.get_future().share();
        auto mountGate = releaseMount.get_future().share();
        std::mutex mutex;
        QStringList started;
        FakePlatform fakes;
        fakes.runner = std::make_shared<FakeProcessRunner>(
            [&](const QString& line, const ProcessRunner::ChunkHandler&) {
                {
                    std::lock_guard lock(mutex);
                    started << (line.startsWith("/usr/sbin"_L1) ? u"unmount "_s : u"mount "_s) +
                                   (line.contains("alpha"_L1) ? u"alpha"_s : u"beta"_s);
                }
                (line.startsWith("/usr/sbin"_L1) ? unmountGate : mountGate).wait();
                return true;
            });
        auto releaseAll = qScopeGuard([&] { // never leave a job blocked on this frame
            for (auto* gate : {&releaseUnmount, &releaseMount}) {
                try {
                    gate->set_value();
                } catch (const std::future_error&) {
                }
            }
        });
        auto startedLines = [&] {
            std::lock_guard lock(mutex);
            return deepCopy(started);
        };
        Tollvane coordinator(QString(), fakes.platform());
        auto alpha = makeServer(u"alpha"_s);
        auto beta = makeServer(u"beta"_s);

        coordinator.scheduleCommand(alpha, false, false); // clean-up unmount, held open
        coordinator.scheduleCommand(alpha, true, true);   // must wait for it
        coordinator.scheduleCommand(beta, true, true);    // another mount point: free to go
        QTRY_COMPARE(startedLines().size(), 2);
        QTest::qWait(100);
        QCOMPARE(startedLines().size(), 2);
        QVERIFY(!startedLines().contains(u"mount alpha"_s));

        coordinator.scheduleCommand(beta, false, true); // unmounts never wait for mounts
        QTRY_COMPARE(startedLines().size(), 3);

        releaseUnmount.set_value();
        QTRY_COMPARE(startedLines().size(), 4);
        QCOMPARE(startedLines().first(), u"unmount alpha"_s);
        QCOMPARE(startedLines().last(), u"mount alpha"_s);
        releaseMount.set_value();
        QTRY_COMPARE(fakes.alert->shown().size(), 2); // both mounts ended without a word
        QTRY_COMPARE(fakes.runner->commandLines().size(), 6);
    }

    void scheduleReturnsAtOnceAndMarksBeforePosting()
    {
        std::promise<void> release;
        auto gate = release.get_future().share();
        FakePlatform fakes;
        fakes.runner = std::make_shared<FakeProcessRunner>(
            [gate](const QString&, const ProcessRunner::ChunkHandler&) {
                gate.wait();
                return true;
            });
        Tollvane coordinator(QString(), fakes.platform());
        auto server = makeServer(u"slow"_s);
        bool busyWhenPosted = false;
        const auto token = NotificationCenter::defaultCenter().addObserver(
            Tollvane::reloadServers, [&] { busyWhenPosted = server->handling; });
        coordinator.scheduleCommand(server, false, true); // the runner blocks; this must not
        NotificationCenter::defaultCenter().removeObserver(token);
        QVERIFY(busyWhenPosted);
        release.set_value();
        QTRY_VERIFY(!server->handling);
        QTRY_COMPARE(fakes.runner->commandLines().size(), 1);
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
        auto server = makeServer(u"gamma"_s);
        server->showConnectionError(coordinator);
        QCOMPARE(commandsAtAlert, 1);
        QVERIFY(fakes.runner->commandLines()[0].startsWith("/usr/sbin/diskutil"_L1));
        QCOMPARE(fakes.alert->shown(), QStringList{u"Error|Couldn't connect to gamma"_s});
    }
};

QTEST_GUILESS_MAIN(TestMountJobs)
#include "tst_mountjobs.moc"
