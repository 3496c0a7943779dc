#include "mount/VolumeIcon.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestVolumeIcon : public QObject
{
    Q_OBJECT

    static QByteArray read(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

private Q_SLOTS:
    void installs()
    {
        QTemporaryDir dir;
        const QString resource = dir.filePath(u"VolumeIcon.icns"_s);
        write(resource, "icns v2");
        const QString support = dir.filePath(u"home/Library/Application Support"_s);
        const QString target = support + "/Tollvane/VolumeIcon.icns"_L1;

        installVolumeIcon(support, resource); // first launch: folders made, icon copied
        QCOMPARE(read(target), QByteArray("icns v2"));
        QVERIFY(QFileInfo(target).permissions() & QFile::WriteOwner);

        write(target, "icns v1"); // an older icon stays as it is
        installVolumeIcon(support, resource);
        QCOMPARE(read(target), QByteArray("icns v1"));

        QFile::remove(target); // removed by the user: copied again
        installVolumeIcon(support, resource);
        QCOMPARE(read(target), QByteArray("icns v2"));
    }

    void failsSilently_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::newRow("plain file where the folder goes") << u"file as folder"_s;
        QTest::newRow("resource missing") << u"no resource"_s;
        QTest::newRow("folder at the target") << u"folder as target"_s;
        QTest::newRow("dangling link at the target") << u"dangling link"_s;
    }

    void failsSilently()
    {
        QFETCH(QString, situation);
        QTemporaryDir dir;
        const QString resource = dir.filePath(u"VolumeIcon.icns"_s);
        write(resource, "icns");
        const QString support = dir.filePath(u"support"_s);
        const QString folder = support + "/Tollvane"_L1;
        const QString target = folder + "/VolumeIcon.icns"_L1;
        const QString elsewhere = dir.filePath(u"elsewhere"_s);
        QDir().mkpath(support);

        if (situation == "file as folder"_L1) {
            write(folder, "not a folder");
        } else if (situation == "folder as target"_L1) {
            QDir().mkpath(target);
        } else if (situation == "dangling link"_L1) {
            QDir().mkpath(folder);
            QVERIFY(QFile::link(elsewhere, target));
        }
        installVolumeIcon(support,
                          situation == "no resource"_L1 ? dir.filePath(u"none"_s) : resource);

        QVERIFY(!QFile::exists(elsewhere)); // never written through a link
        if (situation == "no resource"_L1) {
            QVERIFY(QFileInfo(folder).isDir()); // the folder, just made, stays
            QVERIFY(!QFileInfo::exists(target));
        } else if (situation == "folder as target"_L1) {
            QVERIFY(QFileInfo(target).isDir());
        } else if (situation == "file as folder"_L1) {
            QCOMPARE(read(folder), QByteArray("not a folder"));
        }
    }
};

QTEST_GUILESS_MAIN(TestVolumeIcon)
#include "tst_volumeicon.moc"
