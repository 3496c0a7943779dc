#include "Fakes.h"
#include "catalogue/Graphemes.h"
#include "platform/UserAccount.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The configuration file as the coordinator reads it: one row per rule of the parser, or of how
// it uses Unicode's grapheme rules; and those rules themselves, against Unicode's own test file.
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

    // Qt's private grapheme rules can change with any Qt release (the package pins Qt's), and
    // Debian's unicode-data may hold a later Unicode than Qt's rules follow.
    void unicodeGraphemeBreakTest_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("marks"); // per code unit, and the end
        QFile file(u"/usr/share/unicode/auxiliary/GraphemeBreakTest.txt"_s);
        QVERIFY2(file.open(QIODevice::ReadOnly), "needs Debian's unicode-data");
        // "÷ 0020 × 0308 ÷ # ÷ [0.2] SPACE (Other) × [9.0] COMBINING DIAERESIS (Extend) ÷ [0.3]":
        // code points, and before each and at the end a break (÷) or none (×), with its rule.
        static const QRegularExpression code(u"[0-9A-F]+"_s), mark(u"[÷×] \\[[0-9.]+\\]"_s);
        for (int line = 1; !file.atEnd(); ++line) {
            const QString row = QString::fromUtf8(file.readLine());
            QString text;
            QStringList marks;
            auto marked = mark.globalMatch(row.section(u'#', 1));
            for (const auto& match : code.globalMatch(row.section(u'#', 0, 0))) {
                marks.resize(text.size(), u"×"_s); // inside a surrogate pair
                marks << marked.next().captured();
                const char32_t point = match.captured().toUInt(nullptr, 16);
                text += QString::fromUcs4(&point, 1);
            }
            marks.resize(text.size(), u"×"_s);
            if (!text.isEmpty())
                QTest::addRow("line %d: %s", line, qPrintable(row.section(u'#', 0, 0).trimmed()))
                    << text << (marks << marked.next().captured());
        }
    }

    void unicodeGraphemeBreakTest()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, marks);
        const Graphemes graphemes(text);
        // Unicode's rules that Qt's do not have: a row that differs only where one of them
        // decides is an expected failure, named; any other difference fails.
        static const QHash<QString, QString> notInQt{
            {u"× [9.3]"_s, u"GB9c: an Indic consonant, virama and consonant as one character"_s}};
        QList<bool> found, expected; // a character starts there
        QStringList missing;
        for (qsizetype i = 0; i < marks.size(); ++i) {
            found << graphemes.startsCharacter(i);
            expected << marks[i].startsWith(u'÷');
            if (found.back() != expected.back())
                missing << notInQt.value(marks[i]);
        }
        if (!missing.isEmpty() && !missing.contains(QString()))
            QEXPECT_FAIL("", qPrintable(u"Qt's rules lack Unicode's "_s + missing.first()), Abort);
        QCOMPARE(found, expected);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
