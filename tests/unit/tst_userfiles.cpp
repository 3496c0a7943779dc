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

    enum Action { InstallIcon, Create, Remove };
    // A thing in the tree, below the test's folder: a folder, a file holding `text`, a tmpfs
    // mounted there, a symbolic link to `text`, or nothing at all.
    enum Kind { Folder, File, Mount, Link, None };
    struct Item
    {
        Kind kind;
        const char* path;
        const char* text = "";
    };
    using Items = std::vector<Item>;

private Q_SLOTS:
    void init()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(dir_.path())); // a fresh tree for each row
    }

    void cleanup() { PrivateMounts::unmount(dir_.path()); }

    // What is done, the tree before it (made in this order), and what is then there.
    void operations_data()
    {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QString>("host"); // the mount point is "Volumes/<host>"
        QTest::addColumn<Items>("before");
        QTest::addColumn<Items>("after");
        const char* icon = "Support/Tollvane/VolumeIcon.icns"; // installed from "icon"
        QTest::newRow("icon: copied, with its folders")
            << InstallIcon << QString() << Items{} << Items{{File, icon, "icns"}};
        QTest::newRow("icon: one that stands there stays")
            << InstallIcon << QString() << Items{{File, icon}} << Items{{File, icon}};
        QTest::newRow("icon: not through a dangling link")
            << InstallIcon << QString() << Items{{Link, icon, "../../out"}} << Items{{None, "out"}};
        QTest::newRow("create: Volumes too, on a fresh account")
            << Create << u"a"_s << Items{} << Items{{Folder, "Volumes/a"}};
        QTest::newRow("create: never through a link")
            << Create << u"a/b"_s << Items{{Folder, "out"}, {Link, "Volumes/a", "../out"}}
            << Items{{None, "out/b"}};
        QTest::newRow("remove: nothing for a name with NUL")
            << Remove << u"a\0b"_s << Items{{File, "Volumes/a/p"}} << Items{{File, "Volumes/a/p"}};
        QTest::newRow("remove: nothing of a volume")
            << Remove << u"a"_s << Items{{Mount, "Volumes/a"}, {File, "Volumes/a/r"}}
            << Items{{File, "Volumes/a/r"}};
        QTest::newRow("remove: no volume below is entered")
            << Remove << u"a"_s
            << Items{{File, "Volumes/a/f"}, {Mount, "Volumes/a/s"}, {File, "Volumes/a/s/p"}}
            << Items{{File, "Volumes/a/s/p"}, {None, "Volumes/a/f"}};
        QTest::newRow("remove: links not followed")
            << Remove << u"a"_s << Items{{File, "out/p"}, {Link, "Volumes/a/l", "../../out"}}
            << Items{{File, "out/p"}, {None, "Volumes/a"}};
        QTest::newRow("remove: a link mount point goes")
            << Remove << u"b"_s << Items{{File, "out/p"}, {Link, "Volumes/b", "../out"}}
            << Items{{File, "out/p"}, {None, "Volumes/b"}};
        QTest::newRow("remove: never through a link")
            << Remove << u"a/b"_s << Items{{File, "out/b/p"}, {Link, "Volumes/a", "../out"}}
            << Items{{File, "out/b/p"}};
    }

    void operations()
    {
        QFETCH(Action, action);
        QFETCH(QString, host);
        QFETCH(Items, before);
        QFETCH(Items, after);
        for (const Item& item : before) {
            const QString path = at(QString::fromUtf8(item.path));
            const bool folder = item.kind == Folder || item.kind == Mount;
            QVERIFY(QDir().mkpath(folder ? path : QFileInfo(path).path()));
            if (item.kind == File)
                QVERIFY(QFile(path).open(QIODevice::WriteOnly));
            else if (item.kind == Mount)
                QVERIFY(PrivateMounts::mountTmpfs(path));
            else if (item.kind == Link)
                QVERIFY(QFile::link(QString::fromUtf8(item.text), path));
        }

        SSHFSServer server(u"Host "_s + host);
        server.path = at(u"Volumes/"_s + host);
        QFile resource(at(u"icon"_s));
        QVERIFY(resource.open(QIODevice::WriteOnly) && resource.write("icns") == 4);
        resource.close();
        if (action == InstallIcon)
            installVolumeIcon(at(u"Support"_s), resource.fileName());
        else
            action == Create ? server.createMountPoint() : server.removeMountPoint();
        for (const Item& item : after) {
            QFile file(at(QString::fromUtf8(item.path)));
            if (item.kind == File)
                QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : "<none>", item.text);
            else
                QVERIFY2(item.kind == Folder ? QFileInfo(file).isDir()
                                             : !file.exists() && !QFileInfo(file).isSymLink(),
                         item.path);
        }
    }
};

QTEST_GUILESS_MAIN(TestUserFiles)
#include "tst_userfiles.moc"
