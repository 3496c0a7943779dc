#include "Fakes.h"
#include "mount/Tollvane.h"

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
        QTest::newRow("invalid byte") << QByteArray("Host a\xff") << false << QStringList();
        QTest::newRow("overlong encoding") << QByteArray("Host \xc0\xaf") << false << QStringList();
        QTest::newRow("encoded surrogate")
            << QByteArray("Host \xed\xa0\x80") << false << QStringList();
        QTest::newRow("truncated sequence at the end")
            << QByteArray("Host \xe2\x82") << false << QStringList();
        QTest::newRow("Latin-1 text")
            << QByteArray("Host caf\xe9\n\nHost ok") << false << QStringList();
        QTest::newRow("beyond U+10FFFF")
            << QByteArray("Host \xf4\x90\x80\x80") << false << QStringList();
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, loaded);
        QFETCH(QStringList, hosts);

        const QString path = writeFile(bytes);
        ReloadCounter posts;
        Tollvane coordinator(path, FakePlatform().platform());
        QCOMPARE(coordinator.file, path);
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

    void unreadablePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << dir_.filePath(u"nothing-here"_s);
        QTest::newRow("directory") << dir_.path();
        QTest::newRow("empty path") << QString();
    }

    void unreadablePaths()
    {
        QFETCH(QString, path);
        ReloadCounter posts;
        Tollvane coordinator(path, FakePlatform().platform());
        QVERIFY(!coordinator.config);
        QCOMPARE(posts.count(), 0);
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

    void configurationPathIsUnderUsers()
    {
        QVERIFY(Tollvane::configurationPath().startsWith("/Users/"_L1));
        QVERIFY(Tollvane::configurationPath().endsWith("/.ssh/config"_L1));
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
        QCOMPARE(Tollvane::shared().file, Tollvane::configurationPath());
        QCOMPARE(Tollvane::shared().thread(), QCoreApplication::instance()->thread());
    }
};

QTEST_GUILESS_MAIN(TestCoordinator)
#include "tst_coordinator.moc"
