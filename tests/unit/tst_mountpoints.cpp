#include "PrivateMounts.h"
#include "catalogue/SSHFSServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Mount points against real mounts (tmpfs, in a private mount namespace of the test's own).
class TestMountPoints : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;

    std::shared_ptr<SSHFSServer> serverAt(const QString& relative)
    {
        auto server = std::make_shared<SSHFSServer>(u"Host x"_s);
        server->path = dir_.filePath(relative);
        return server;
    }
    QString file(const QString& relative) const { return dir_.filePath(relative); }
    static void touch(const QString& path)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("data");
    }

private Q_SLOTS:
    void init()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(dir_.path())); // a fresh, empty tree for each test
    }

    void cleanup()
    {
        while (PrivateMounts::unmount(dir_.path())) {
        }
    }

    void isMounted_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("mounted");
        QTest::newRow("nothing there") << u"missing"_s << false;
        QTest::newRow("plain directory") << u"plain"_s << false;
        QTest::newRow("mount root") << u"mounted"_s << true;
        QTest::newRow("inside a mount") << u"mounted/inner"_s << false;
        QTest::newRow("plain file") << u"file"_s << false;
    }

    void isMounted()
    {
        QFETCH(QString, relative);
        QFETCH(bool, mounted);
        QDir().mkpath(file(u"plain"_s));
        QDir().mkpath(file(u"mounted"_s));
        QVERIFY(PrivateMounts::mountTmpfs(file(u"mounted"_s)));
        QDir().mkpath(file(u"mounted/inner"_s));
        touch(file(u"file"_s));
        QCOMPARE(serverAt(relative)->isMounted(), mounted);
        QCOMPARE(serverAt(relative)->isMounted(), mounted); // two entries, one path, one answer
    }

    void isMountedOnUnusualPaths()
    {
        auto server = serverAt(u"x"_s);
        for (const QString& path : {QString(), QString(u"rel\0ative"_s), QString(u"relative"_s)}) {
            server->path = path;
            QVERIFY(!server->isMounted());
        }
    }

    void createMountPoint()
    {
        auto server = serverAt(u"Volumes/alpha"_s);
        server->createMountPoint(); // with its missing parents
        QVERIFY(QFileInfo(server->path).isDir());
        touch(server->path + "/keep"_L1);
        server->createMountPoint(); // an existing directory is left as it is
        QVERIFY(QFile::exists(server->path + "/keep"_L1));

        auto onFile = serverAt(u"Volumes/file"_s);
        touch(onFile->path);
        onFile->createMountPoint();
        QVERIFY(QFileInfo(onFile->path).isFile());
    }

    void removeMountPoint_data()
    {
        QTest::addColumn<QStringList>("files");  // made under the mount point
        QTest::addColumn<QStringList>("mounts"); // tmpfs mounted there, relative to it
        QTest::addColumn<QStringList>("inside"); // made inside those mounts
        QTest::addColumn<bool>("pointGone");
        QTest::addColumn<QStringList>("left"); // still there afterwards

        QTest::newRow("empty directory")
            << QStringList() << QStringList() << QStringList() << true << QStringList();
        QTest::newRow("directory with contents")
            << QStringList{u"a"_s, u"d/b"_s, u"d/e/c"_s} << QStringList() << QStringList() << true
            << QStringList();
        QTest::newRow("still mounted: nothing removed")
            << QStringList() << QStringList{u""_s} << QStringList{u"remote"_s, u"dir/file"_s}
            << false << QStringList{u"remote"_s, u"dir/file"_s};
        QTest::newRow("nested mount below is never entered")
            << QStringList{u"a"_s, u"sub/b"_s} << QStringList{u"sub/nested"_s}
            << QStringList{u"sub/nested/precious"_s} << false
            << QStringList{u"sub/nested/precious"_s};
    }

    void removeMountPoint()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, mounts);
        QFETCH(QStringList, inside);
        QFETCH(bool, pointGone);
        QFETCH(QStringList, left);

        auto server = serverAt(u"Volumes/alpha"_s);
        server->createMountPoint();
        for (const QString& f : files)
            touch(server->path + u'/' + f);
        for (const QString& m : mounts) {
            const QString at = m.isEmpty() ? server->path : server->path + u'/' + m;
            QDir().mkpath(at);
            QVERIFY(PrivateMounts::mountTmpfs(at));
        }
        for (const QString& f : inside)
            touch(server->path + u'/' + f);

        server->removeMountPoint();
        QCOMPARE(QFileInfo::exists(server->path), !pointGone);
        for (const QString& f : left)
            QVERIFY2(QFile::exists(server->path + u'/' + f), qPrintable(f));
        for (const QString& f : files) {
            if (!f.startsWith("sub/nested"_L1) && !mounts.contains(QString()))
                QVERIFY2(!QFile::exists(server->path + u'/' + f), qPrintable(f));
        }
    }

    void removeMountPointNeverFollowsLinks()
    {
        touch(file(u"outside/precious"_s));
        auto server = serverAt(u"Volumes/alpha"_s);
        server->createMountPoint();
        QVERIFY(QFile::link(file(u"outside"_s), server->path + "/link"_L1));
        server->removeMountPoint();
        QVERIFY(!QFileInfo::exists(server->path));
        QVERIFY(QFile::exists(file(u"outside/precious"_s)));

        // A mount point that is itself a link: the link goes, its target stays.
        auto linked = serverAt(u"Volumes/linked"_s);
        QVERIFY(QFile::link(file(u"outside"_s), linked->path));
        linked->removeMountPoint();
        QVERIFY(!QFileInfo(linked->path).isSymLink());
        QVERIFY(QFile::exists(file(u"outside/precious"_s)));

        serverAt(u"missing"_s)->removeMountPoint(); // nothing there: nothing happens
    }
};

QTEST_GUILESS_MAIN(TestMountPoints)
#include "tst_mountpoints.moc"
