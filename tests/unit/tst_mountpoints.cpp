#include "PrivateMounts.h"
#include "catalogue/SSHFSServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Mount points against real mounts (tmpfs, in a private mount namespace of the test's own). The
// names "..", "." and "x/../y" are the end-to-end test's: here the links and mounts on the way.
class TestMountPoints : public QObject
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

    void cleanup()
    {
        while (PrivateMounts::unmount(dir_.path())) {
        }
    }

    // The tree: "d:" a directory, "f:" a file, "m:" a tmpfs mounted there, "l:NAME>TARGET" a
    // symbolic link; all below the test's root, where the mount points are "Volumes/<host>".
    void operations_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QStringList>("present"); // afterwards; for isMounted, "true" or not
        QTest::addColumn<QStringList>("absent");

        const QStringList none;
        QTest::newRow("isMounted: nothing there") << u"a"_s << u"isMounted"_s << none << none << none;
        QTest::newRow("isMounted: a plain directory")
            << u"a"_s << u"isMounted"_s << QStringList{u"d:Volumes/a"_s} << none << none;
        QTest::newRow("isMounted: a mount root")
            << u"a"_s << u"isMounted"_s << QStringList{u"m:Volumes/a"_s} << QStringList{u"true"_s}
            << none;
        QTest::newRow("isMounted: inside a mount")
            << u"a/in"_s << u"isMounted"_s << QStringList{u"m:Volumes/a"_s, u"d:Volumes/a/in"_s}
            << none << none;
        QTest::newRow("create: Volumes too, on a fresh account")
            << u"a"_s << u"create"_s << none << QStringList{u"Volumes/a/"_s} << none;
        QTest::newRow("create: what is there stays")
            << u"a"_s << u"create"_s << QStringList{u"f:Volumes/a/keep"_s, u"f:Volumes/b"_s}
            << QStringList{u"Volumes/a/keep"_s} << none;
        QTest::newRow("create: nested below a folder")
            << u"a/b"_s << u"create"_s << QStringList{u"d:Volumes/a"_s}
            << QStringList{u"Volumes/a/b/"_s} << none;
        QTest::newRow("create: never inside a volume")
            << u"a/b"_s << u"create"_s << QStringList{u"m:Volumes/a"_s} << none
            << QStringList{u"Volumes/a/b"_s};
        QTest::newRow("create: never through a link")
            << u"a/b"_s << u"create"_s << QStringList{u"d:out"_s, u"l:Volumes/a>../out"_s} << none
            << QStringList{u"out/b"_s};
        QTest::newRow("remove: with what it holds")
            << u"a"_s << u"remove"_s << QStringList{u"f:Volumes/a/f"_s, u"f:Volumes/a/d/e/f"_s}
            << QStringList{u"Volumes/"_s} << QStringList{u"Volumes/a"_s};
        QTest::newRow("remove: nothing of a mounted volume")
            << u"a"_s << u"remove"_s << QStringList{u"m:Volumes/a"_s, u"f:Volumes/a/remote"_s}
            << QStringList{u"Volumes/a/remote"_s} << none;
        QTest::newRow("remove: a volume below is never entered")
            << u"a"_s << u"remove"_s
            << QStringList{u"f:Volumes/a/f"_s, u"m:Volumes/a/sub/in"_s, u"f:Volumes/a/sub/in/p"_s}
            << QStringList{u"Volumes/a/sub/in/p"_s} << QStringList{u"Volumes/a/f"_s};
        QTest::newRow("remove: links are not followed")
            << u"a"_s << u"remove"_s
            << QStringList{u"f:out/p"_s, u"l:Volumes/a/l>../../out"_s}
            << QStringList{u"out/p"_s} << QStringList{u"Volumes/a"_s};
        QTest::newRow("remove: a mount point that is a link goes, not its target")
            << u"b"_s << u"remove"_s << QStringList{u"f:out/p"_s, u"l:Volumes/b>../out"_s}
            << QStringList{u"out/p"_s} << QStringList{u"Volumes/b"_s};
        QTest::newRow("remove: never inside a volume")
            << u"a/b"_s << u"remove"_s << QStringList{u"m:Volumes/a"_s, u"f:Volumes/a/b/p"_s}
            << QStringList{u"Volumes/a/b/p"_s} << none;
        QTest::newRow("remove: never through a link")
            << u"a/b"_s << u"remove"_s << QStringList{u"f:out/b/p"_s, u"l:Volumes/a>../out"_s}
            << QStringList{u"out/b/p"_s} << none;
    }

    void operations()
    {
        QFETCH(QString, host);
        QFETCH(QString, operation);
        QFETCH(QStringList, tree);
        QFETCH(QStringList, present);
        QFETCH(QStringList, absent);
        for (const QString& item : tree) {
            const QString path = at(item.mid(2).section(u'>', 0, 0));
            QVERIFY(QDir().mkpath(item.startsWith(u'f') || item.startsWith(u'l')
                                      ? QFileInfo(path).path()
                                      : path));
            if (item.startsWith(u'f'))
                QVERIFY(QFile(path).open(QIODevice::WriteOnly));
            else if (item.startsWith(u'm'))
                QVERIFY(PrivateMounts::mountTmpfs(path));
            else if (item.startsWith(u'l'))
                QVERIFY(QFile::link(item.section(u'>', 1), path));
        }

        SSHFSServer server(u"Host "_s + host);
        server.path = at(u"Volumes/"_s + host);
        if (operation == "isMounted"_L1) {
            QCOMPARE(server.isMounted(), present == QStringList{u"true"_s});
            return;
        }
        operation == "create"_L1 ? server.createMountPoint() : server.removeMountPoint();
        for (const QString& item : present) // a trailing "/": a directory
            QVERIFY2(item.endsWith(u'/') ? QFileInfo(at(item)).isDir() : QFile::exists(at(item)),
                     qPrintable(item));
        for (const QString& item : absent)
            QVERIFY2(!QFileInfo(at(item)).exists() && !QFileInfo(at(item)).isSymLink(),
                     qPrintable(item));
    }
};

QTEST_GUILESS_MAIN(TestMountPoints)
#include "tst_mountpoints.moc"
