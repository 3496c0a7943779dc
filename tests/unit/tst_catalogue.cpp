#include "Fakes.h"
#include "platform/UserAccount.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The configuration file as the coordinator reads it: one row per rule of the parser, or of how
// it uses Unicode's grapheme rules.
class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // null: no file
        QTest::addColumn<QStringList>("hosts"); // one per entry; null: nothing loaded

        QTest::newRow("empty file: one entry without a name") << ""_ba << QStringList{u""_s};
        QTest::newRow("blank line at the end: one more entry")
            << "Host a\n\n"_ba << QStringList{u"a"_s, u""_s};
        QTest::newRow("no blank line between sections: one entry, the last Host line")
            << "Host a\nHostName x\nHost b"_ba << QStringList{u"b"_s};
        QTest::newRow("three line feeds split once, four leave an empty block")
            << "Host a\n\n\nHost b\n\n\n\nHost c"_ba << QStringList{u"a"_s, u"b"_s, u""_s, u"c"_s};
        QTest::newRow("a line of blanks does not separate")
            << "Host a\n \nHost b"_ba << QStringList{u"b"_s};
        QTest::newRow("duplicates and nameless blocks keep their places")
            << "Host a\n\n# c\nUser me\n\nHost a"_ba << QStringList{u"a"_s, u""_s, u"a"_s};
        QTest::newRow("keyword in any case, after blanks")
            << "  hOsT beta"_ba << QStringList{u"beta"_s};
        QTest::newRow("not the keyword")
            << "\tHost a\n\nHost=b c\n\nHost: c\n\n#Host d\n\nHostName e\n\nHo\xc5\xbft f\n\n"
               "\xef\xbc\xa8\xef\xbc\xaf\xef\xbc\xb3\xef\xbc\xb4 g"_ba
            << QStringList(7, QString());
        QTest::newRow("the second word only") << "Host beta gamma\n\nHost    \n\nHost = x"_ba
                                              << QStringList{u"beta"_s, u""_s, u"="_s};
        QTest::newRow("names verbatim")
            << "Host *\n\nHost \"my\n\nHost a/b\n\nHost a\tb\n\nHost a\xc2\xa0"
               "b\n\nHost A\xcc\x8a"_ba
            << QStringList{u"*"_s, u"\"my"_s, u"a/b"_s, u"a\tb"_s, u"a\u00A0b"_s, u"A\u030A"_s};
        QTest::newRow("CR LF file: one block of one line")
            << "Host alpha\r\nHostName x\r\n\r\nHost beta\r\n"_ba
            << QStringList{u"alpha\r\nHostName"_s};
        QTest::newRow("an LF that belongs to a CR separates nothing")
            << "Host a\n\r\nHost b\n\nHost c\r\n\nHost d"_ba << QStringList{u"a"_s, u"d"_s};
        QTest::newRow("a blank joined to the next character is no blank")
            << "Host alpha \xcc\x81x\n\nHost a \xe2\x80\x8d"
               "b\n\nHost \xcc\x81x"_ba
            << QStringList{u"alpha \u0301x"_s, u"a \u200Db"_s, u""_s};
        QTest::newRow("no per-script tailoring")
            << "Host \xe0\xb4\x95\r\n\nHost b\n\nHost \xe0\xb8\x81 \xcc\x81x"_ba
            << QStringList{u"b"_s, u"\u0E01 \u0301x"_s};
        QTest::newRow("invalid UTF-8") << "Host a\xff"_ba << QStringList();
        QTest::newRow("no file") << QByteArray() << QStringList();
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, hosts);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"config"_s));
        QVERIFY(bytes.isNull() || (file.open(QIODevice::WriteOnly) && file.write(bytes) >= 0));
        file.close();

        int posts = 0;
        const ReloadObserver observer([&] { ++posts; });
        Tollvane coordinator(file.fileName(), FakePlatform().platform());
        QCOMPARE(posts > 0, !hosts.isEmpty()); // the window hears of a new list only
        QCOMPARE(bool(coordinator.config), !hosts.isEmpty());
        if (hosts.isEmpty())
            return;
        QCOMPARE(coordinator.config->contents.toUtf8(), bytes);
        QStringList parsed;
        for (const auto& server : coordinator.config->servers) {
            parsed << server->host;
            QCOMPARE(server->path, server->host.isEmpty()
                                       ? QString()
                                       : UserAccount::userFolder() + "/Volumes/"_L1 + server->host);
        }
        QCOMPARE(parsed, hosts);

        // Read once: a change of the file and a reload change nothing.
        const auto config = coordinator.config;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("Host other") > 0);
        file.close();
        Tollvane::postReloadServers();
        QCOMPARE(coordinator.config, config);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
