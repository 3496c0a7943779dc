#include "PrivateMounts.h"
#include "catalogue/SSHFSServer.h"
#include "mount/VolumeIcon.h"

#include <QDir>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// What the application makes and removes among the user's files, against real mounts (tmpfs, in
// a private mount namespace of the test's own) and links: the mount points (the names "..", ".",
// "x/../y" and a volume on the way are the end-to-end test's) and the volume icon, which never
// replaces anything.
class TestUserFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    QString at(const QString& relative) const { return dir_.filePath(relative); }

private Q_SLOTS:
    void init()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(dir_.path())); // a fresh tree for each row
    }

    void cleanup() { PrivateMounts::unmount(dir_.path()); }

    // The tree: "d:" a directory, "f:" a file, "m:" a tmpfs mounted there, "l:NAME>TARGET" a
    // symbolic link. The mount points are "Volumes/<host>"; the icon (holding "icns") goes from
    // "icon" into "Support/Tollvane".
    void operations_data()
    {
        QTest::addColumn<QString>("host"); // none: the icon is installed
        QTest::addColumn<bool>("create");  // or remove
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("present"); // afterwards; "/" at the end: a directory;
        QTest::addColumn<QStringList>("absent");  // "=TEXT": a file holding TEXT

        const QStringList none;
        const QString icon = u"Support/Tollvane/VolumeIcon.icns"_s;
        QTest::newRow("icon: copied, with its folders")
            << QString() << true << none << QStringList{icon + u"=icns"_s} << none;
        QTest::newRow("icon: one that stands there stays")
            << QString() << true << QStringList{u"f:"_s + icon} << QStringList{icon + u"="_s}
            << none;
        QTest::newRow("icon: never written through a dangling link")
            << QString() << true << QStringList{u"l:"_s + icon + u">../../out"_s} << none
            << QStringList{u"out"_s};
        QTest::newRow("create: Volumes too, on a fresh account")
            << u"a"_s << true << none << QStringList{u"Volumes/a/"_s} << none;
        QTest::newRow("create: what stands there stays")
            << u"a"_s << true << QStringList{u"f:Volumes/a/keep"_s}
            << QStringList{u"Volumes/a/keep"_s} << none;
        QTest::newRow("create: nested below a folder")
            << u"a/b"_s << true << QStringList{u"d:Volumes/a"_s} << QStringList{u"Volumes/a/b/"_s}
            << none;
        QTest::newRow("create: never through a link")
            << u"a/b"_s << true << QStringList{u"d:out"_s, u"l:Volumes/a>../out"_s} << none
            << QStringList{u"out/b"_s};
        QTest::newRow("create: nothing for a name holding NUL")
            << u"a\0b"_s << true << none << none << QStringList{u"Volumes/a"_s};
        QTest::newRow("remove: nothing for a name holding NUL")
            << u"a\0b"_s << false << QStringList{u"f:Volumes/a/p"_s}
            << QStringList{u"Volumes/a/p"_s} << none;
        QTest::newRow("remove: nothing of a mounted volume")
            << u"a"_s << false << QStringList{u"m:Volumes/a"_s, u"f:Volumes/a/remote"_s}
            << QStringList{u"Volumes/a/remote"_s} << none;
        QTest::newRow("remove: a volume below is never entered")
            << u"a"_s << false
            << QStringList{u"f:Volumes/a/f"_s, u"m:Volumes/a/sub/in"_s, u"f:Volumes/a/sub/in/p"_s}
            << QStringList{u"Volumes/a/sub/in/p"_s} << QStringList{u"Volumes/a/f"_s};
        QTest::newRow("remove: links are not followed")
            << u"a"_s << false << QStringList{u"f:out/p"_s, u"l:Volumes/a/l>../../out"_s}
            << QStringList{u"out/p"_s} << QStringList{u"Volumes/a"_s};
        QTest::newRow("remove: a mount point that is a link goes, not its target")
            << u"b"_s << false << QStringList{u"f:out/p"_s, u"l:Volumes/b>../out"_s}
            << QStringList{u"out/p"_s} << QStringList{u"Volumes/b"_s};
        QTest::newRow("remove: never through a link")
            << u"a/b"_s << false << QStringList{u"f:out/b/p"_s, u"l:Volumes/a>../out"_s}
            << QStringList{u"out/b/p"_s} << none;
    }

    void operations()
    {
        QFETCH(QString, host);
        QFETCH(bool, create);
        QFETCH(QStringList, tree);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        for (const QString& item : tree) {
            const QString path = at(item.mid(2).section(u'>', 0, 0));
            QVERIFY(
                QDir().mkpath(item[0] == u'd' || item[0] == u'm' ? path : QFileInfo(path).path()));
            if (item[0] == u'f')
                QVERIFY(QFile(path).open(QIODevice::WriteOnly));
            else if (item[0] == u'm')
                QVERIFY(PrivateMounts::mountTmpfs(path));
            else if (item[0] == u'l')
                QVERIFY(QFile::link(item.section(u'>', 1), path));
        }

        SSHFSServer server(u"Host "_s + host);
        server.path = at(u"Volumes/"_s + host);
        QFile resource(at(u"icon"_s));
        QVERIFY(resource.open(QIODevice::WriteOnly) && resource.write("icns") == 4);
        resource.close();
        if (host.isEmpty())
            installVolumeIcon(at(u"Support"_s), resource.fileName());
        else
            create ? server.createMountPoint() : server.removeMountPoint();
        for (const QString& item : present) {
            QFile file(at(item.section(u'=', 0, 0)));
            if (item.contains(u'='))
                QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>",
                         item.section(u'=', 1).toUtf8());
            QVERIFY2(item.endsWith(u'/') ? QFileInfo(at(item)).isDir() : file.exists(),
                     qPrintable(item));
        }
        for (const QString& item : absent)
            QVERIFY2(!QFileInfo(at(item)).exists() && !QFileInfo(at(item)).isSymLink(),
                     qPrintable(item));
    }
};

QTEST_GUILESS_MAIN(TestUserFiles)
#include "tst_userfiles.moc"
