#include "mount/ErrorWatch.h"

#include <QTest>

using namespace Qt::StringLiterals;

// Rows are written compactly: chunks and echoed lines separated by "|" (an empty chunk is end of
// file), verdicts as one letter each, C for confirmed and R for refused.
class TestErrorWatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decisions_data()
    {
        QTest::addColumn<QByteArray>("chunks");
        QTest::addColumn<QString>("verdicts");
        QTest::addColumn<QString>("echoed");
        QTest::addColumn<bool>("watching");

        QTest::newRow("confirmation")
            << "sshfs: statfs answered\n"_ba << u"C"_s << u"sshfs: statfs answered"_s << false;
        QTest::newRow("confirmation and later failure in one chunk")
            << "statfs\nother\nmount failed\n"_ba << u"CR"_s << u"statfs|other|mount failed"_s
            << false;
        QTest::newRow("a line with both is a confirmation")
            << "statfs failed\n"_ba << u"C"_s << u"statfs failed"_s << false;
        QTest::newRow("each failure phrase")
            << "ssh: Connection refused\nremote host has disconnected\nx failed\n"_ba << u"RRR"_s
            << u"ssh: Connection refused|remote host has disconnected|x failed"_s << false;
        QTest::newRow("other letter case hits nothing")
            << "STATFS\nconnection refused\nFailed\nRemote host has disconnected\n"_ba << u""_s
            << u"STATFS|connection refused|Failed|Remote host has disconnected"_s << true;
        QTest::newRow("phrase split across chunks")
            << "Connection ref|used\n"_ba << u""_s << u"Connection ref|used"_s << true;
        QTest::newRow("no final line feed")
            << "first\nmount failed"_ba << u"R"_s << u"first|mount failed"_s << false;
        QTest::newRow("invalid UTF-8 is dropped, the watch goes on")
            << "\xff failed\n|statfs\n"_ba << u"C"_s << u"statfs"_s << false;
        QTest::newRow("truncated sequence at chunk end is dropped")
            << "failed \xe2\x82|\xac\n"_ba << u""_s << u""_s << true;
        QTest::newRow("only line feeds") << "\n\n\n"_ba << u""_s << u""_s << true;
        QTest::newRow("end of file ends the watch")
            << "|failed\n"_ba << u""_s << u"failed"_s << false;
        QTest::newRow("nothing after the first hit, but still echoed")
            << "Connection refused\n|statfs\nfailed\n"_ba << u"R"_s
            << u"Connection refused|statfs|failed"_s << false;
        QTest::newRow("reset by peer is no failure")
            << "read: Connection reset by peer\n"_ba << u""_s << u"read: Connection reset by peer"_s
            << true;
        QTest::newRow("CR LF keeps the CR in the line")
            << "statfs\r\n"_ba << u"C"_s << u"statfs\r"_s << false;
    }

    void decisions()
    {
        QFETCH(QByteArray, chunks);
        QFETCH(QString, verdicts);
        QFETCH(QString, echoed);
        QFETCH(bool, watching);

        ErrorWatch watch;
        QString seen;
        QStringList lines;
        for (const QByteArray& chunk : chunks.split('|')) {
            const auto reading = watch.read(chunk);
            for (ErrorWatch::Verdict verdict : reading.verdicts)
                seen += verdict == ErrorWatch::Verdict::Confirmed ? u'C' : u'R';
            lines += reading.lines;
        }
        QCOMPARE(seen, verdicts);
        QCOMPARE(lines, echoed.split(u'|', Qt::SkipEmptyParts));
        QCOMPARE(watch.watching(), watching);
        QCOMPARE(watch.decided(), !verdicts.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestErrorWatch)
#include "tst_errorwatch.moc"
