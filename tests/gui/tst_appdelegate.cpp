#include "Fakes.h"
#include "PrivateMounts.h"
#include "XvfbServer.h"
#include "app/AppDelegate.h"
#include "mount/Tollvane.h"
#include "platform/FileSystem.h"
#include "platform/UserAccount.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// The application's life: launching, activation, closing the window. Runs in a private mount
// namespace with a fresh home, since launching installs the volume icon there, and on a private
// X server, where windows gain and lose the focus as they do on a desktop.
class TestAppDelegate : public QObject
{
    Q_OBJECT

    static void waitUntilInactive()
    {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->hide();
        QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
    }

private Q_SLOTS:
    void initTestCase()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(UserAccount::homeDirectory()));
    }

    void launchingInstallsTheVolumeIcon()
    {
        const QString icon = UserAccount::homeDirectory() +
                             "/Library/Application Support/Tollvane/VolumeIcon.icns"_L1;
        AppDelegate delegate(*qApp);
        QVERIFY(!QFile::exists(icon)); // not before the event loop runs
        QTRY_VERIFY(QFile::exists(icon));
        QFile installed(icon), resource(u":/VolumeIcon.icns"_s);
        QVERIFY(installed.open(QIODevice::ReadOnly) && resource.open(QIODevice::ReadOnly));
        QCOMPARE(installed.readAll(), resource.readAll());
    }

    // Coming to the front posts once; moving between the application's own windows does not.
    void everyActivationPostsOnce()
    {
        if (QGuiApplication::platformName() != "xcb"_L1) {
            if (qEnvironmentVariable("CI") == "true"_L1)
                QFAIL("needs Xvfb");
            QSKIP("needs Xvfb: offscreen windows never lose the focus");
        }
        waitUntilInactive();
        AppDelegate delegate(*qApp);
        ReloadCounter posts;
        QWidget first, second;
        for (int activation = 1; activation <= 3; ++activation) {
            first.show();
            first.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&first));
            QTRY_COMPARE(posts.count(), activation);
            second.show();
            second.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&second));
            QTest::qWait(20);
            QCOMPARE(posts.count(), activation);
            waitUntilInactive();
            QCOMPARE(posts.count(), activation);
        }
    }

    // Closing the only window quits at once, with no question, and leaves the volumes mounted.
    void closingTheWindowQuits()
    {
        QTemporaryDir dir;
        QFile config(dir.filePath(u"config"_s));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write("Host alpha") > 0);
        config.close();
        Tollvane coordinator(config.fileName(), FakePlatform().platform());
        const QString volume = dir.filePath(u"alpha"_s);
        coordinator.config->servers.at(0)->path = volume;
        QVERIFY(QDir().mkpath(volume) && PrivateMounts::mountTmpfs(volume));

        AppDelegate delegate(*qApp);
        SSHFSTable window(coordinator);
        window.show();
        QTimer::singleShot(0, &window, [&] { window.close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); }); // no quit: a failure
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(FileSystem::isMountRoot(volume));
        PrivateMounts::unmount(volume);
    }
};

int main(int argc, char* argv[])
{
    XvfbServer display;
    QApplication application(argc, argv);
    TestAppDelegate test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_appdelegate.moc"
