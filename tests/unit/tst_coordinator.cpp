#include "Fakes.h"
#include "mount/Tollvane.h"
#include "platform/UserAccount.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <latch>
#include <thread>

using namespace Qt::StringLiterals;

class TestCoordinator : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    QString writeFile(const QByteArray& bytes)
    {
        const QString path = dir_.filePath(u"config"_s);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            qFatal("cannot write the test configuration");
        return path;
    }

private Q_SLOTS:
    // Bytes in angle brackets stand for a path that is no readable file.
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("loaded");
        QTest::addColumn<QStringList>("hosts");

        QTest::newRow("empty file") << QByteArray("") << true << QStringList{u""_s};
        QTest::newRow("valid") << QByteArray("Host alpha\n\nHost beta\n") << true
                               << QStringList{u"alpha"_s, u"beta"_s};
        QTest::newRow("UTF-8 name")
            << QByteArray("Host caf\xc3\xa9") << true << QStringList{u"caf\u00e9"_s};
        QTest::newRow("NUL is valid UTF-8")
            << QByteArray("Host a\0b", 8) << true << QStringList{QString::fromUtf8("a\0b", 3)};
        QTest::newRow("byte order mark stays in the text")
            << QByteArray("\xef\xbb\xbfHost alpha") << true << QStringList{u""_s};
        QTest::newRow("invalid byte")
            << QByteArray("Host a\xff\n\nHost b") << false << QStringList();
        QTest::newRow("truncated sequence at the end")
            << QByteArray("Host \xe2\x82") << false << QStringList();
        QTest::newRow("missing") << QByteArray("<missing>") << false << QStringList();
        QTest::newRow("directory") << QByteArray("<directory>") << false << QStringList();
        QTest::newRow("empty path") << QByteArray("<empty path>") << false << QStringList();
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, loaded);
        QFETCH(QStringList, hosts);

        const QHash<QByteArray, QString> unreadable{{"<missing>", dir_.filePath(u"none"_s)},
                                                    {"<directory>", dir_.path()},
                                                    {"<empty path>", QString()}};
        const QString path = unreadable.value(bytes, writeFile(bytes));
        ReloadCounter posts;
        Tollvane coordinator(path, FakePlatform().platform());
        QCOMPARE(posts.count(), loaded ? 1 : 0);
        QCOMPARE(bool(coordinator.config), loaded);
        if (!loaded)
            return;
        QStringList parsed;
        for (const auto& server : coordinator.config->servers)
            parsed << server->host;
        QCOMPARE(parsed, hosts);
        QCOMPARE(coordinator.config->contents.toUtf8(), bytes); // nothing dropped, not even a BOM
    }

    void readsOnce()
    {
        const QString path = writeFile("Host first");
        Tollvane coordinator(path, FakePlatform().platform());
        const auto config = coordinator.config;
        writeFile("Host second\n\nHost third");
        Tollvane::postReloadServers();
        QCOMPARE(coordinator.config, config);
        QCOMPARE(coordinator.config->servers.size(), size_t(1));
        QCOMPARE(coordinator.config->servers[0]->host, u"first"_s);
    }

    // Many threads reach for the shared coordinator at once: one is made, all see it.
    void sharedIsCreatedOnce()
    {
        constexpr int threads = 16;
        std::latch start(threads);
        std::vector<Tollvane*> seen(threads);
        std::vector<std::thread> pool;
        for (int i = 0; i < threads; ++i) {
            pool.emplace_back([&, i] {
                start.arrive_and_wait();
                seen[size_t(i)] = &Tollvane::shared();
            });
        }
        for (auto& thread : pool)
            thread.join();
        for (Tollvane* coordinator : seen)
            QCOMPARE(coordinator, &Tollvane::shared());
        QCOMPARE(Tollvane::shared().file,
                 "/Users/"_L1 + UserAccount::loginName() + "/.ssh/config"_L1);
        QCOMPARE(Tollvane::shared().thread(), QCoreApplication::instance()->thread());
    }
};

QTEST_GUILESS_MAIN(TestCoordinator)
#include "tst_coordinator.moc"
