#include "Fakes.h"
#include "PrivateMounts.h"
#include "app/AppDelegate.h"
#include "platform/UserAccount.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

// The application's life, on a private X server, where windows gain and lose the focus as on a
// desktop, and with a fresh home (a private tmpfs): launching installs the volume icon there.
class TestAppDelegate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TOLLVANE_REQUIRE_PRIVATE_MOUNTS();
        QVERIFY(PrivateMounts::mountTmpfs(UserAccount::homeDirectory()));
    }

    // Coming to the front posts once; moving between the application's own windows does not.
    void everyActivationPostsOnce()
    {
        if (QGuiApplication::platformName() != "xcb"_L1) {
            QVERIFY2(qEnvironmentVariable("CI") != "true"_L1, "needs Xvfb");
            QSKIP("needs Xvfb: offscreen windows never lose the focus");
        }
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
            first.hide();
            second.hide();
            QTRY_COMPARE(QGuiApplication::applicationState(), Qt::ApplicationInactive);
            QCOMPARE(posts.count(), activation);
        }
    }

    // Launching installs the volume icon once the event loop runs; closing the only window quits
    // at once, with no question.
    void launchThenCloseTheWindow()
    {
        const QString icon = UserAccount::homeDirectory() +
                             "/Library/Application Support/Tollvane/VolumeIcon.icns"_L1;
        QFile::remove(icon);
        Tollvane coordinator(QString(), FakePlatform().platform());
        AppDelegate delegate(*qApp);
        QVERIFY(!QFile::exists(icon));
        SSHFSTable window(coordinator);
        window.show();
        QTimer::singleShot(0, &window, [&] { window.close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); }); // no quit: a failure
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(QFile::exists(icon));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
