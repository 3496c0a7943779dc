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

    // A row: what is done ("icon": installed from "icon" into "Support/Tollvane"; "create H",
    // "remove H": the mount point "Volumes/H"), the tree before it, and what is then present and
    // absent. In the tree "d:" is a directory, "f:" a file, "m:" a tmpfs mounted there and
    // "l:NAME>TARGET" a symbolic link; afterwards "/" at the end is a directory and "=TEXT" a
    // file holding TEXT.
    void operations_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("absent");
        const QString rows = // ICON: the installed icon
            u"icon: copied, with its folders | icon |  | ICON=icns | \n"
            "icon: one that stands there stays | icon | f:ICON | ICON= | \n"
            "icon: not through a dangling link | icon | l:ICON>../../out |  | out\n"
            "create: Volumes too, on a fresh account | create a |  | Volumes/a/ | \n"
            "create: what stands there stays | create a | f:Volumes/a/k | Volumes/a/k | \n"
            "create: nested below a folder | create a/b | d:Volumes/a | Volumes/a/b/ | \n"
            "create: never through a link | create a/b | d:out l:Volumes/a>../out |  | out/b\n"
            "create: nothing for a name with NUL | create a\0b |  |  | Volumes/a\n"
            "remove: nothing for a name with NUL | remove a\0b | f:Volumes/a/p | Volumes/a/p | \n"
            "remove: nothing of a volume | remove a | m:Volumes/a f:Volumes/a/r | Volumes/a/r | \n"
            "remove: no volume below is entered | remove a | f:Volumes/a/f m:Volumes/a/s f:Volumes/"
            "a/s/p | Volumes/a/s/p | Volumes/a/f\n"
            "remove: links not followed | remove a | f:out/p l:Volumes/a/l>../../out | out/p | "
            "Volumes/a\n"
            "remove: a link mount point goes | remove b | f:out/p l:Volumes/b>../out | out/p | "
            "Volumes/b\n"
            "remove: never through a link | remove a/b | f:out/b/p l:Volumes/a>../out | out/b/p | "_s;
        for (const QString& row : rows.split(u'\n')) {
            const QStringList column =
                QString(row)
                    .replace("ICON"_L1, "Support/Tollvane/VolumeIcon.icns"_L1)
                    .split(u" | "_s);
            QTest::newRow(qPrintable(column[0]))
                << column[1] << column[2].split(u' ', Qt::SkipEmptyParts)
                << column[3].split(u' ', Qt::SkipEmptyParts)
                << column[4].split(u' ', Qt::SkipEmptyParts);
        }
    }

    void operations()
    {
        QFETCH(QString, action);
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

        const QString host = action.section(u' ', 1);
        SSHFSServer server(u"Host "_s + host);
        server.path = at(u"Volumes/"_s + host);
        QFile resource(at(u"icon"_s));
        QVERIFY(resource.open(QIODevice::WriteOnly) && resource.write("icns") == 4);
        resource.close();
        if (action == u"icon")
            installVolumeIcon(at(u"Support"_s), resource.fileName());
        else
            action.startsWith(u"create") ? server.createMountPoint() : server.removeMountPoint();
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
