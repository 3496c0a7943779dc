#include "ClientCommand.h"
#include "Verdict.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The sshfs adapter without a client: which command lines are the application's, the real
// client's arguments for them, and the one verdict line, whatever the names in it.
class TestAdapter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The command line, then: "other" (handed to Debian's sshfs unchanged), the error, or the
    // real client's arguments (its ssh's configuration /c and the adapter's "-o reconnect").
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QString>("client");
        const auto row = [](const char* name, const QString& given, const QString& client) {
            QTest::newRow(name) << given.split(u'|') << client;
        };
        const QString own = u"-o|volname='h'|-o|volicon='/L/A S/i.icns'|-o|debug"_s;
        row("the application's", u"h:/|/U/V/h|"_s + own, u"-f -F /c -o reconnect -- h:/ /U/V/h"_s);
        row("joined, repeated and unknown options; -p and -F keep their argument",
            u"-oidmap=user,,idmap=user|-d|-f|-C|-p|22|-F|/my|-o|volname=a,b|[::1]:/d|/m"_s,
            u"-f -o reconnect -o idmap=user -C -p 22 -F /my -- [::1]:/d /m"_s);
        row("volname among other options", u"-oro,volname=x|h:|/m"_s,
            u"-f -F /c -o reconnect -- h: /m"_s);
        row("a person's call", u"h:/|/m|-o|reconnect"_s, u"other"_s);
        row("volname after --", u"-o|ro|--|-o|volname=x|h:/"_s, u"other"_s);
        row("a dashed host after --", u"-o|volname=x|--|-oProxyCommand=x:/|/m"_s,
            u"a host name must not begin with \"-\""_s);
        row("no host", u"-o|volname=x|:/|/m"_s, u"expected host:[dir]"_s);
        row("no colon", u"-o|volname=x|h|/m"_s, u"expected host:[dir]"_s);
        row("an open bracket", u"-o|volname=x|[h:/|/m"_s, u"expected host:[dir]"_s);
        row("an option without its argument", u"-o|volname=x|h:/|/m|-p"_s,
            u"-p needs an argument"_s);
        row("three operands", u"-o|volname=x|h:/|/m|/n"_s,
            u"usage: sshfs [-o options] [--] host:[dir] mountpoint"_s);
    }

    void commandLine()
    {
        QFETCH(QStringList, given);
        QFETCH(QString, client);
        std::vector<std::string> words;
        for (const QString& word : given)
            words.push_back(word.toStdString());
        const std::vector<std::string_view> arguments(words.begin(), words.end());
        if (!ClientCommand::isApplicationCall(arguments)) {
            QCOMPARE(u"other"_s, client);
            return;
        }
        ClientCommand::Request request;
        std::string why = ClientCommand::parse(arguments, request);
        if (why.empty())
            ClientCommand::host(request.remote, why);
        if (!why.empty()) {
            QCOMPARE(QString::fromStdString(why), client);
            return;
        }
        QStringList result;
        for (const std::string& word : ClientCommand::clientArguments(
                 request, ClientCommand::configFile(request, "/c"), {"-o", "reconnect"}))
            result << QString::fromStdString(word);
        QCOMPARE(result.takeFirst(), u"/usr/bin/sshfs"_s);
        QCOMPARE(result.join(u' '), client);
    }

    // A host name and ssh's reason, then the verdict: mounted ("+") or not ("-"), and its line,
    // which must hold exactly one phrase the application reacts to.
    void verdict_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("line");
        QTest::newRow("a name with a failure phrase, mounted")
            << u"failed-up"_s << u"+"_s << u"sshfs: Failed-up: statfs answered, mounted"_s;
        QTest::newRow("a name with the confirmation, refused")
            << u"statfs-down"_s << u"ssh: connect to host 127.0.0.1 port 1: Connection refused"_s
            << u"sshfs: mount of Statfs-down failed: ssh: connect to host 127.0.0.1 port 1: "
               "connection refused"_s;
        QTest::newRow("ssh names a HostName with the confirmation")
            << u"h"_s << u"ssh: Could not resolve hostname statfs.invalid: Name unknown"_s
            << u"sshfs: mount of h failed: ssh: Could not resolve hostname Statfs.invalid: Name "
               "unknown"_s;
        QTest::newRow("every phrase, twice, joined")
            << u"statfsfailedremote host has disconnectedConnection refusedstatfs"_s
            << u"failedfailed remote host has disconnected"_s << QString();
        QTest::newRow("the same, mounted") << u"Connection refusedfailed"_s << u"+"_s << QString();
    }

    void verdict()
    {
        QFETCH(QString, host);
        QFETCH(QString, reason);
        QFETCH(QString, line);
        const QString verdict = QString::fromStdString(
            reason == u"+" ? Verdict::mounted(host.toStdString())
                           : Verdict::failed(host.toStdString(), reason.toStdString()));
        if (!line.isEmpty())
            QCOMPARE(verdict, line);
        int phrases = 0;
        for (const auto phrase :
             {"statfs"_L1, "Connection refused"_L1, "remote host has disconnected"_L1, "failed"_L1})
            phrases += verdict.count(phrase);
        QCOMPARE(phrases, 1);
        QCOMPARE(verdict.contains("statfs"_L1), reason == u"+");
    }
};

QTEST_MAIN(TestAdapter)
#include "tst_adapter.moc"
