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
    // Delivery is synchronous, to the observers of that name only; an observer may remove itself
    // or another one from inside a post, and a removed one is not called again.
    void delivery()
    {
        NotificationCenter center;
        int calls = 0;
        bool removedCalled = false;
        NotificationCenter::Token self = 0, other = 0;
        self = center.addObserver(u"n"_s, [&] {
            ++calls;
            center.removeObserver(self);
            center.removeObserver(other);
        });
        other = center.addObserver(u"n"_s, [&] { removedCalled = true; });
        center.addObserver(u"m"_s, [&] { calls += 100; });
        center.postNotificationName(u"n"_s);
        center.postNotificationName(u"n"_s);
        QCOMPARE(calls, 1);
        QVERIFY(!removedCalled);
    }

    // Threads that register, post and remove at once: every post reaches exactly the observers
    // registered for its whole duration.
    void concurrentUse()
    {
        NotificationCenter center;
        std::atomic<int> permanent = 0, own = 0;
        center.addObserver(u"shared"_s, [&] { ++permanent; });
        constexpr int threads = 8, rounds = 500;
        std::latch start(threads);
        std::vector<std::jthread> pool;
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
        pool.clear();
        QCOMPARE(permanent.load(), threads * rounds);
        QVERIFY(own.load() >= threads * rounds); // each post sees at least its own observer
        own = 0;
        center.postNotificationName(u"shared"_s);
        QCOMPARE(own.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNotificationCenter)
#include "tst_notificationcenter.moc"
