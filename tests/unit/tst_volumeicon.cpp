#include "mount/VolumeIcon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The icon is copied where nothing stands, and nothing that stands there is ever replaced or
// written through.
class TestVolumeIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void install_data()
    {
        QTest::addColumn<QString>("before"); // at the target: "file", "link" (dangling), "folder"
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("nothing there: copied, the owner may write it") << QString() << "icns"_ba;
        QTest::newRow("an older icon stays") << u"file"_s << "old"_ba;
        QTest::newRow("a dangling link is not written through") << u"link"_s << QByteArray();
        QTest::newRow("a folder stays") << u"folder"_s << QByteArray();
    }

    void install()
    {
        QFETCH(QString, before);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        QFile resource(dir.filePath(u"VolumeIcon.icns"_s));
        QVERIFY(resource.open(QIODevice::WriteOnly) && resource.write("icns") == 4);
        resource.close();
        const QString support = dir.filePath(u"home/Library/Application Support"_s);
        QFile target(support + "/Tollvane/VolumeIcon.icns"_L1);
        if (!before.isEmpty()) // otherwise the folders are made as on a first launch
            QDir().mkpath(support + "/Tollvane"_L1);
        if (before == "file"_L1)
            QVERIFY(target.open(QIODevice::WriteOnly) && target.write("old") == 3);
        target.close();
        if (before == "link"_L1)
            QVERIFY(QFile::link(dir.filePath(u"elsewhere"_s), target.fileName()));
        if (before == "folder"_L1)
            QVERIFY(QDir().mkpath(target.fileName()));

        installVolumeIcon(support, resource.fileName());
        QCOMPARE(target.open(QIODevice::ReadOnly) ? target.readAll() : QByteArray(), after);
        QVERIFY(!QFile::exists(dir.filePath(u"elsewhere"_s)));
        if (before.isEmpty())
            QVERIFY(target.permissions() & QFile::WriteOwner);
    }
};

QTEST_GUILESS_MAIN(TestVolumeIcon)
#include "tst_volumeicon.moc"
