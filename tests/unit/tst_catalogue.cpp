#include "catalogue/Graphemes.h"
#include "catalogue/SSHFSConfig.h"
#include "platform/UserAccount.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCatalogue : public QObject
{
    Q_OBJECT

    static QString mountPoint(const QString& host)
    {
        return "/Users/"_L1 + UserAccount::loginName() + "/Volumes/"_L1 + host;
    }

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("contents");
        QTest::addColumn<QStringList>("hosts"); // one per entry, in order

        // Blocks
        QTest::newRow("empty text") << u""_s << QStringList{u""_s};
        QTest::newRow("host with indented option")
            << u"Host alpha\n    HostName alpha.example.com\n    User me"_s
            << QStringList{u"alpha"_s};
        QTest::newRow("trailing blank line adds an entry")
            << u"Host alpha\n\n"_s << QStringList{u"alpha"_s, u""_s};
        QTest::newRow("two sections without blank line")
            << u"Host a\nHostName x\nHost b"_s << QStringList{u"b"_s};
        QTest::newRow("three LFs leave one in the next block")
            << u"Host a\n\n\nHost b"_s << QStringList{u"a"_s, u"b"_s};
        QTest::newRow("four LFs give an empty block")
            << u"Host a\n\n\n\nHost b"_s << QStringList{u"a"_s, u""_s, u"b"_s};
        QTest::newRow("five LFs") << u"Host a\n\n\n\n\nHost b"_s
                                  << QStringList{u"a"_s, u""_s, u"b"_s};
        QTest::newRow("line of blanks does not separate")
            << u"Host a\n \nHost b"_s << QStringList{u"b"_s};
        QTest::newRow("only LFs") << u"\n\n"_s << QStringList{u""_s, u""_s};
        QTest::newRow("duplicates are kept")
            << u"Host a\n\nHost a"_s << QStringList{u"a"_s, u"a"_s};
        QTest::newRow("block without Host line keeps its place")
            << u"Host a\n\n# comment\nUser me\n\nHost b"_s << QStringList{u"a"_s, u""_s, u"b"_s};

        // The keyword
        QTest::newRow("mixed case") << u"hOsT beta"_s << QStringList{u"beta"_s};
        QTest::newRow("leading blanks") << u"    Host beta"_s << QStringList{u"beta"_s};
        QTest::newRow("leading tab") << u"\tHost beta"_s << QStringList{u""_s};
        QTest::newRow("third word ignored") << u"Host beta gamma"_s << QStringList{u"beta"_s};
        QTest::newRow("Host and blanks") << u"Host    "_s << QStringList{u""_s};
        QTest::newRow("equals sign as a word") << u"Host = beta"_s << QStringList{u"="_s};
        QTest::newRow("joined by equals") << u"Host=beta gamma"_s << QStringList{u""_s};
        QTest::newRow("colon") << u"Host: beta"_s << QStringList{u""_s};
        QTest::newRow("hash joined") << u"#Host beta"_s << QStringList{u""_s};
        QTest::newRow("HostName") << u"HostName beta"_s << QStringList{u""_s};
        QTest::newRow("long s is not s (no case folding)") << u"Hoſt beta"_s << QStringList{u""_s};
        QTest::newRow("fullwidth letters") << u"ＨＯＳＴ beta"_s << QStringList{u""_s};
        QTest::newRow("last Host line wins")
            << u"Host a\nUser x\nHost b\nPort 22"_s << QStringList{u"b"_s};
        QTest::newRow("repeated blanks") << u"Host   beta   "_s << QStringList{u"beta"_s};

        // Names are taken verbatim
        QTest::newRow("wildcard") << u"Host *"_s << QStringList{u"*"_s};
        QTest::newRow("quotes kept") << u"Host \"my host\""_s << QStringList{u"\"my"_s};
        QTest::newRow("slash") << u"Host a/b"_s << QStringList{u"a/b"_s};
        QTest::newRow("tab inside the name")
            << u"Host alpha\tbeta"_s << QStringList{u"alpha\tbeta"_s};
        QTest::newRow("no-break space is not a separator")
            << u"Host alpha\u00A0beta"_s << QStringList{u"alpha\u00A0beta"_s};
        QTest::newRow("no-break space after keyword") << u"Host\u00A0beta"_s << QStringList{u""_s};
        QTest::newRow("decomposed stays decomposed")
            << u"Host A\u030Alpha"_s << QStringList{u"A\u030Alpha"_s};
        QTest::newRow("precomposed stays precomposed")
            << u"Host \u00C5lpha"_s << QStringList{u"\u00C5lpha"_s};

        // Characters are grapheme clusters
        QTest::newRow("CR LF file is one block of one line")
            << u"Host alpha\r\nHostName x\r\n\r\nHost beta\r\n"_s
            << QStringList{u"alpha\r\nHostName"_s};
        QTest::newRow("CR LF then indented line")
            << u"Host alpha\r\n  HostName x"_s << QStringList{u"alpha\r\n"_s};
        QTest::newRow("LF then CR LF does not separate blocks")
            << u"Host a\n\r\nHost b"_s << QStringList{u"a"_s};
        QTest::newRow("CR LF then LF does not separate blocks")
            << u"Host a\r\n\nHost b"_s << QStringList{u"b"_s};
        QTest::newRow("lone CR is no line end") << u"Host a\rHost b"_s << QStringList{u"a\rHost"_s};
        QTest::newRow("blank joined to a combining mark is no blank")
            << u"Host alpha \u0301beta"_s << QStringList{u"alpha \u0301beta"_s};
        QTest::newRow("combining mark right after the keyword")
            << u"Host \u0301alpha"_s << QStringList{u""_s};
        QTest::newRow("blank joined to a zero width joiner")
            << u"Host a \u200Db"_s << QStringList{u"a \u200Db"_s};
        QTest::newRow("combining mark after LF stays in the next line")
            << u"Host a\n\u0301Host b"_s << QStringList{u"a"_s};

        // Scripts whose syllables Qt's boundary finder re-cuts
        QTest::newRow("CR LF after Malayalam then LF does not separate")
            << u"Host \u0D15\r\n\nHost b"_s << QStringList{u"b"_s};
        QTest::newRow("CR LF after Devanagari then LF does not separate")
            << u"Host \u0915\r\n\nHost b"_s << QStringList{u"b"_s};
        QTest::newRow("blank joined to a combining mark after Thai")
            << u"Host \u0E01 \u0301x"_s << QStringList{u"\u0E01 \u0301x"_s};
        QTest::newRow("blank joined to a Devanagari vowel sign")
            << u"Host a \u093Fb"_s << QStringList{u"a \u093Fb"_s};
        QTest::newRow("blank before a Malayalam letter separates")
            << u"Host \u0D15 \u0D16"_s << QStringList{u"\u0D15"_s};
    }

    void parse()
    {
        QFETCH(QString, contents);
        QFETCH(QStringList, hosts);

        SSHFSConfig config(contents);
        config.parseServers();

        QStringList parsed;
        for (const auto& server : config.servers) {
            parsed << server->host;
            QCOMPARE(server->path, server->host.isEmpty() ? QString() : mountPoint(server->host));
            QVERIFY(!server->handling);
        }
        QCOMPARE(parsed, hosts);
    }

    // Unicode's own test of extended grapheme clusters, from Debian's unicode-data.
    void characters_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qsizetype>>("boundaries");

        QFile file(u"/usr/share/unicode/auxiliary/GraphemeBreakTest.txt"_s);
        QVERIFY2(file.open(QIODevice::ReadOnly), "unicode-data is not installed");
        int number = 0;
        while (!file.atEnd()) {
            ++number;
            const QString line = QString::fromUtf8(file.readLine()).section(u'#', 0, 0);
            // "÷ 0020 × 0308 ÷": code points between break (÷) and no-break (×) marks
            const QStringList marks = line.simplified().split(u' ', Qt::SkipEmptyParts);
            if (marks.isEmpty())
                continue;
            QString text;
            QList<qsizetype> boundaries{0};
            for (qsizetype i = 1; i + 1 < marks.size(); i += 2) {
                const char32_t code = marks[i].toUInt(nullptr, 16);
                text += QString::fromUcs4(&code, 1);
                if (marks[i + 1] == u"÷"_s)
                    boundaries << text.size();
            }
            QTest::addRow("line %d", number) << text << boundaries;
        }
    }

    void characters()
    {
        QFETCH(QString, text);
        QFETCH(QList<qsizetype>, boundaries);

        const Graphemes graphemes(text);
        QList<qsizetype> found;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            if (graphemes.startsCharacter(i))
                found << i;
        }
        QCOMPARE(found, boundaries);
    }

    void secondParseAppends()
    {
        SSHFSConfig config(u"Host a\n\nHost b"_s);
        config.parseServers();
        const auto first = config.servers;
        config.parseServers();
        QCOMPARE(config.servers.size(), size_t(4));
        QCOMPARE(config.servers[0], first[0]); // the earlier entries are kept, not replaced
        QCOMPARE(config.servers[2]->host, u"a"_s);
        QVERIFY(config.servers[2] != first[0]);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"
