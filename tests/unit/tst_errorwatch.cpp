#include "mount/ErrorWatch.h"

#include <QTest>

using namespace Qt::StringLiterals;

using Verdict = ErrorWatch::Verdict;
Q_DECLARE_METATYPE(std::vector<Verdict>)

class TestErrorWatch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void decisions_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<std::vector<Verdict>>("verdicts");
        QTest::addColumn<QStringList>("echoed");
        QTest::addColumn<bool>("watching");

        const auto C = Verdict::Confirmed;
        const auto R = Verdict::Refused;
        QTest::newRow("confirmation")
            << QList<QByteArray>{"sshfs: statfs answered\n"} << std::vector{C}
            << QStringList{u"sshfs: statfs answered"_s} << false;
        QTest::newRow("confirmation and later failure in one chunk")
            << QList<QByteArray>{"statfs\nother\nmount failed\n"} << std::vector{C, R}
            << QStringList{u"statfs"_s, u"other"_s, u"mount failed"_s} << false;
        QTest::newRow("a line with both is a confirmation")
            << QList<QByteArray>{"statfs failed\n"} << std::vector{C}
            << QStringList{u"statfs failed"_s} << false;
        QTest::newRow("each failure phrase")
            << QList<
                   QByteArray>{"ssh: Connection refused\nremote host has disconnected\nx failed\n"}
            << std::vector{R, R, R}
            << QStringList{u"ssh: Connection refused"_s, u"remote host has disconnected"_s,
                           u"x failed"_s}
            << false;
        QTest::newRow("other letter case hits nothing")
            << QList<
                   QByteArray>{"STATFS\nconnection refused\nFailed\nRemote host has disconnected\n"}
            << std::vector<Verdict>{}
            << QStringList{u"STATFS"_s, u"connection refused"_s, u"Failed"_s,
                           u"Remote host has disconnected"_s}
            << true;
        QTest::newRow("phrase split across chunks")
            << QList<QByteArray>{"Connection ref", "used\n"} << std::vector<Verdict>{}
            << QStringList{u"Connection ref"_s, u"used"_s} << true;
        QTest::newRow("no final line feed")
            << QList<QByteArray>{"first\nmount failed"} << std::vector{R}
            << QStringList{u"first"_s, u"mount failed"_s} << false;
        QTest::newRow("invalid UTF-8 is dropped, the watch goes on")
            << QList<QByteArray>{"\xff failed\n", "statfs\n"} << std::vector{C}
            << QStringList{u"statfs"_s} << false;
        QTest::newRow("truncated sequence at chunk end is dropped")
            << QList<QByteArray>{"failed \xe2\x82", "\xac\n"} << std::vector<Verdict>{}
            << QStringList() << true;
        QTest::newRow("only line feeds")
            << QList<QByteArray>{"\n\n\n"} << std::vector<Verdict>{} << QStringList() << true;
        QTest::newRow("end of file ends the watch")
            << QList<QByteArray>{"", "failed\n"} << std::vector<Verdict>{}
            << QStringList{u"failed"_s} << false;
        QTest::newRow("nothing after the first hit, but still echoed")
            << QList<QByteArray>{"Connection refused\n", "statfs\nfailed\n"} << std::vector{R}
            << QStringList{u"Connection refused"_s, u"statfs"_s, u"failed"_s} << false;
        QTest::newRow("reset by peer is no failure")
            << QList<QByteArray>{"read: Connection reset by peer\n"} << std::vector<Verdict>{}
            << QStringList{u"read: Connection reset by peer"_s} << true;
        QTest::newRow("CR LF keeps the CR in the line")
            << QList<QByteArray>{"statfs\r\n"} << std::vector{C} << QStringList{u"statfs\r"_s}
            << false;
    }

    void decisions()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(std::vector<Verdict>, verdicts);
        QFETCH(QStringList, echoed);
        QFETCH(bool, watching);

        ErrorWatch watch;
        std::vector<Verdict> seen;
        QStringList lines;
        for (const QByteArray& chunk : chunks) {
            const auto reading = watch.read(chunk);
            seen.insert(seen.end(), reading.verdicts.begin(), reading.verdicts.end());
            lines += reading.lines;
        }
        QVERIFY(seen == verdicts);
        QCOMPARE(lines, echoed);
        QCOMPARE(watch.watching(), watching);
        QCOMPARE(watch.decided(), !verdicts.empty());
    }
};

QTEST_GUILESS_MAIN(TestErrorWatch)
#include "tst_errorwatch.moc"
