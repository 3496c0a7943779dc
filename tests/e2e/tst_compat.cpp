// The compat programs at their fixed paths, one shell scenario a row, in the environment of
// run-in-namespace.sh, with the helpers of compat.sh. Each row prints what it found; its output
// must be the expected text ($V: the volumes folder, $U: the login name).

#include "platform/UserAccount.h"

#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;


class TestCompat : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("TOLLVANE_E2E_VOLUMES").isEmpty())
            QSKIP("needs the environment of tests/e2e/run-in-namespace.sh");
        QCOMPARE(QProcess::execute(u"cp"_s, {u"/usr/bin/sshfs"_s,
                                             qEnvironmentVariable("TOLLVANE_E2E_DIR") +
                                                 "/real-sshfs"_L1}),
                 0);
    }

    void cleanup()
    {
        QProcess::execute(u"/bin/bash"_s,
                          {u"-c"_s, u"while umount /usr/bin/sshfs 2>/dev/null; do :; done"_s});
    }

    void programs_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("output");
        const QString failed = u"sshfs: mount of alpha failed: "_s;
        QTest::newRow("lines as they come; ssh's reason; the client's status; its arguments")
            << uR"(fake 'echo 1st; until [ -e $D/go ]; do sleep 0.02; done; echo "ssh: no route"; echo "read: x"; exit 3'
                   app alpha 2>&1 | { read -r line; echo "$line"; touch $D/go; cat; }
                   echo "status ${PIPESTATUS[0]}"; tr '\n' ' ' <$D/args)"_s
            << u"1st\nssh: no route\nread: x\n"_s + failed +
                   u"ssh: no route\nstatus 3\n-f -o debug -F /Users/$U/.ssh/config -o reconnect -o ConnectTimeout=10 "
                     "-o ServerAliveInterval=15 -o ServerAliveCountMax=3 -- alpha:/ $V/alpha"_s;
        QTest::newRow("a last line without line feed")
            << u"fake \"printf 'one\\ntwo'; exit 1\"; app alpha 2>&1; echo status $?"_s
            << u"one\ntwo\n"_s + failed + u"two\nstatus 1"_s;
        QTest::newRow("a phrase already forwarded: the closing line names none")
            << u"fake 'echo remote host has disconnected; exit 1'; app alpha 2>&1"_s
            << u"remote host has disconnected\nsshfs: alpha: not mounted"_s;
        QTest::newRow("bytes that are not UTF-8 become U+FFFD")
            << u"fake \"printf 'bad \\xff failed\\n'; exit 1\"; app alpha 2>&1"_s
            << u"bad \uFFFD failed\nsshfs: alpha: not mounted"_s;
        QTest::newRow("ends well without a mount")
            << u"fake 'exit 0'; app alpha 2>&1; echo status $?"_s
            << failed + u"the client exited with status 0\nstatus 1"_s;
        QTest::newRow("killed") << u"fake 'kill -KILL $$'; app alpha 2>&1; echo status $?"_s
                                << failed + u"the client exited with status 137\nstatus 137"_s;
        QTest::newRow("a signal is passed on; a mount point the table writes escaped")
            << uR"(fake "$stays"; mkdir -p "$V/b l\ank"; /usr/local/bin/sshfs a:/ "$V/b l\ank" -o volname=a -o debug 2>$D/err &
                   confirmed $D/err && kill -TERM $! && wait $!; echo status $?
                   mountpoint -q "$V/b l\ank" || echo unmounted)"_s
            << u"status 0\nunmounted"_s;
        QTest::newRow("unmount of a busy volume, through the linked home")
            << uR"(app reachable 2>$D/err & client=$!; confirmed $D/err
                   (cd $V/reachable && exec 3<README.txt && exec sleep 600) & holder=$!; sleep 0.2
                   /usr/sbin/diskutil unmountDisk force $V/reachable; echo status $?
                   mountpoint -q $V/reachable || echo unmounted; kill $holder; wait $client; echo ended)"_s
            << u"Unmount of all volumes on $V/reachable was successful\nstatus 0\nunmounted\nended"_s;
        QTest::newRow("unmount of stacked volumes")
            << u"mkdir -p $V/st; mount -t tmpfs x $V/st; mount -t tmpfs x $V/st; "
               "/usr/sbin/diskutil unmountDisk force $V/st; mountpoint -q $V/st || echo unmounted"_s
            << u"Unmount of all volumes on $V/st was successful\nunmounted"_s;
        QTest::newRow("unmount of nothing")
            << u"mkdir -p $V/idle; /usr/sbin/diskutil unmountDisk force $V/idle 2>&1; echo $?"_s
            << u"Unmount of $V/idle failed: not mounted\n1"_s;
        QTest::newRow("no unmount outside the volumes folder")
            << u"/usr/sbin/diskutil unmountDisk force $V/../.. 2>&1; echo $?; ls /Users/.tollvane-e2e"_s
            << u"Unmount of $V/../.. failed: not a mount point of its own inside $V\n1\n"
               "/Users/.tollvane-e2e"_s;
        QTest::newRow("diskutil knows one command")
            << u"/usr/sbin/diskutil unmount $V/x 2>&1; echo $?"_s
            << u"Usage: diskutil unmountDisk force MountPoint\n1"_s;
        QTest::newRow("a person's sshfs is Debian's: it returns with the volume mounted")
            << uR"(mkdir -p $D/m; /usr/local/bin/sshfs -p $TOLLVANE_E2E_PORT -o IdentityFile=$TOLLVANE_E2E_KEY \
                       -o StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null $(id -un)@127.0.0.1:/ $D/m
                   echo status $?; ls $D/m; fusermount3 -u $D/m)"_s
            << u"status 0\nDocuments\nREADME.txt"_s;
        QTest::newRow("a client that outstays its connection is ended")
            << uR"(fake "$outstays"; app reachable 2>$D/err & client=$!; confirmed $D/err
                   /usr/sbin/diskutil unmountDisk force $V/reachable; wait $client; echo status $?)"_s
            << u"Unmount of all volumes on $V/reachable was successful\nstatus 137"_s;
    }

    void programs()
    {
        QFETCH(QString, script);
        QFETCH(QString, output);
        QProcess bash;
        bash.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        bash.start(u"/bin/bash"_s, {u"-c"_s, "source "_L1 + QFINDTESTDATA("compat.sh") + u'\n' + script});
        QVERIFY(bash.waitForFinished(60000));
        output.replace("$V"_L1, qEnvironmentVariable("TOLLVANE_E2E_VOLUMES"))
            .replace("$U"_L1, UserAccount::loginName());
        QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()).trimmed(), output);
    }
};

QTEST_GUILESS_MAIN(TestCompat)
#include "tst_compat.moc"
