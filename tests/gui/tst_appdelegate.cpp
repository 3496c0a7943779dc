#include "Fakes.h"
#include "PrivateMounts.h"
#include "app/AppDelegate.h"
#include "mount/Tollvane.h"
#include "platform/UserAccount.h"
#include "ui/SSHFSTable.h"

#include <QApplication>
#include <QFile>
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

    // Coming to the front posts once; moving between the application's own windows does not.
    void everyActivationPostsOnce()
    {
        const bool xcb = QGuiApplication::platformName() == "xcb"_L1;
        QVERIFY2(xcb || qEnvironmentVariable("CI") != "true"_L1, "needs Xvfb");
        if (!xcb)
            QSKIP("needs Xvfb: offscreen windows never lose the focus");
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
            waitUntilInactive();
            QCOMPARE(posts.count(), activation);
        }
    }

    // Launching has finished, and installs the volume icon (what it installs is the icon's own
    // test), once the event loop runs. Closing the only window quits at once, with no question.
    void launchThenCloseTheWindow()
    {
        const QString icon = UserAccount::homeDirectory() +
                             "/Library/Application Support/Tollvane/VolumeIcon.icns"_L1;
        QFile::remove(icon); // installed by an earlier test's launch
        Tollvane coordinator(QString(), FakePlatform().platform());
        AppDelegate delegate(*qApp);
        QVERIFY(!QFile::exists(icon));
        SSHFSTable window(coordinator);
        window.show();
        QTimer::singleShot(0, &window, [&] { window.close(); });
        QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(2); }); // no quit: a failure
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(QFile::exists(icon));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
