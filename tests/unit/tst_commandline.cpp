#include "catalogue/SSHFSServer.h"
#include "mount/CommandLine.h"
#include "platform/UserAccount.h"

#include <QProcess>
#include <QTest>

using namespace Qt::StringLiterals;

// The command lines are handed to "/bin/bash -c": the test lets bash itself parse them and checks
// the words the client would receive.
class TestCommandLine : public QObject
{
    Q_OBJECT

    static QString login() { return UserAccount::loginName(); }
    static QString mountPoint(const QString& host)
    {
        return "/Users/"_L1 + login() + "/Volumes/"_L1 + host;
    }
    static QString icon()
    {
        return "/Users/"_L1 + login() +
               "/Library/Application\\ Support/Tollvane/VolumeIcon.icns"_L1;
    }

    // The words bash makes of `line` once its program has been replaced by printf.
    static QStringList wordsOf(QString line, const QString& program)
    {
        if (!line.startsWith(program + u' '))
            return {u"<wrong program>"_s};
        line.replace(0, program.size(), u"printf '%s\\0'"_s);
        QProcess bash;
        bash.start(u"/bin/bash"_s, {u"-c"_s, line});
        if (!bash.waitForFinished(10000))
            return {u"<bash did not finish>"_s};
        QStringList words;
        for (const QByteArray& word : bash.readAllStandardOutput().split('\0'))
            words << QString::fromUtf8(word);
        words.removeLast(); // after the last NUL
        return words;
    }

    // Hosts are set directly: the parser never yields some of these names (blanks), but the
    // command lines must not depend on that.
    static SSHFSServer serverFor(const QString& host)
    {
        SSHFSServer server{QString()};
        server.host = host;
        server.path = mountPoint(host);
        return server;
    }

private Q_SLOTS:
    void everyNameReachesTheClientAsOneWord_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("bare"); // goes into the command line as it is
        for (const char* host : {"alpha", "db-1.example.com", "user@host", "a:b", "nested/host",
                                 "under_score", "x%y+z=w,v", "UPPER9"})
            QTest::newRow(host) << QString::fromLatin1(host) << true;
        // Each takes one of the shell's rules at least: blanks, quotes, substitutions,
        // operators, globs, tilde and brace expansion, parameters, escapes, options.
        for (const char* host : {"my host", "it's", "a;touch /tmp/tollvane-canary", "`id`",
                                 "$(touch /tmp/tollvane-canary)", "a|b&&c", "*", "~root", "a\"b\\c",
                                 "new\rline\ttab", "caf\xc3\xa9", "!e{a,b}$HOME", "a'\"'b", "''",
                                 "-oProxyCommand=touch /tmp/x", "--help"})
            QTest::newRow(host) << QString::fromUtf8(host) << false;
    }

    void everyNameReachesTheClientAsOneWord()
    {
        QFETCH(QString, host);
        QFETCH(bool, bare);
        const SSHFSServer server = serverFor(host);
        if (bare) {
            QCOMPARE(CommandLine::mount(server), "/usr/local/bin/sshfs "_L1 + host + ":/ "_L1 +
                                                     mountPoint(host) + " -o volname='"_L1 + host +
                                                     "' -o volicon='"_L1 + icon() +
                                                     "' -o debug"_L1);
            QCOMPARE(CommandLine::unmount(server),
                     "/usr/sbin/diskutil unmountDisk force "_L1 + mountPoint(host));
        }
        const QStringList options{
            u"-o"_s, "volname="_L1 + host, u"-o"_s, "volicon="_L1 + icon(), u"-o"_s, u"debug"_s};
        const QStringList operands{host + ":/"_L1, mountPoint(host)};
        // A name that starts with "-" would be taken for an option: "--" ends the options.
        QCOMPARE(wordsOf(CommandLine::mount(server), u"/usr/local/bin/sshfs"_s),
                 host.startsWith(u'-') ? options + QStringList{u"--"_s} + operands
                                       : operands + options);
        QCOMPARE(wordsOf(CommandLine::unmount(server), u"/usr/sbin/diskutil"_s),
                 QStringList({u"unmountDisk"_s, u"force"_s, mountPoint(host)}));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
