#include "platform/NotificationCenter.h"

#include <QTest>

#include <atomic>
#include <latch>
#include <thread>

using namespace Qt::StringLiterals;

class TestNotificationCenter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deliversSynchronouslyOnThePostingThread()
    {
        NotificationCenter center;
        std::thread::id deliveredOn;
        int calls = 0;
        const auto token = center.addObserver(u"a"_s, [&] {
            deliveredOn = std::this_thread::get_id();
            ++calls;
        });
        center.addObserver(u"b"_s, [&] { calls += 100; });
        std::thread poster([&] { center.postNotificationName(u"a"_s); });
        poster.join();
        QCOMPARE(calls, 1); // before post returned, and only the observers of that name
        QVERIFY(deliveredOn != std::this_thread::get_id());
        center.removeObserver(token);
        center.postNotificationName(u"a"_s);
        QCOMPARE(calls, 1);
        center.removeObserver(token); // twice, or an unknown token: harmless
        center.removeObserver(0);
    }

    // From inside a block: posting again, removing itself, removing another observer of the same
    // post (which is then not called) and registering a new one.
    void reentrancy()
    {
        NotificationCenter center;
        int calls = 0, added = 0;
        bool removedCalled = false;
        NotificationCenter::Token self = 0, removed = 0;
        self = center.addObserver(u"n"_s, [&] {
            if (++calls < 3)
                center.postNotificationName(u"n"_s);
            else
                center.removeObserver(self);
        });
        center.postNotificationName(u"n"_s);
        QCOMPARE(calls, 3);
        center.postNotificationName(u"n"_s);
        QCOMPARE(calls, 3);

        center.addObserver(u"m"_s, [&] { center.removeObserver(removed); });
        removed = center.addObserver(u"m"_s, [&] { removedCalled = true; });
        center.addObserver(u"m"_s, [&] {
            if (added++ == 0)
                center.addObserver(u"m"_s, [] {});
        });
        center.postNotificationName(u"m"_s);
        QVERIFY(!removedCalled);
        QCOMPARE(added, 1);
    }

    // Threads that register, post and remove at once: every post reaches exactly the observers
    // registered for its whole duration.
    void concurrentUse()
    {
        NotificationCenter center;
        std::atomic<int> permanent{0};
        center.addObserver(u"shared"_s, [&] { ++permanent; });
        constexpr int threads = 8, rounds = 500;
        std::latch start(threads);
        std::vector<std::thread> pool;
        std::atomic<int> own{0};
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&] {
                start.arrive_and_wait();
                for (int i = 0; i < rounds; ++i) {
                    const auto token = center.addObserver(u"shared"_s, [&] { ++own; });
                    center.postNotificationName(u"shared"_s);
                    center.removeObserver(token);
                }
            });
        }
        for (auto& thread : pool)
            thread.join();
        QCOMPARE(permanent.load(), threads * rounds);
        QVERIFY(own.load() >= threads * rounds); // each post sees at least its own observer
        own = 0;
        center.postNotificationName(u"shared"_s);
        QCOMPARE(own.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
