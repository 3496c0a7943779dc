#include "ChildProcess.h"
#include "ClientCommand.h"
#include "ClientOutput.h"
#include "ClientReaper.h"
#include "MountTable.h"
#include "ProcessGroup.h"
#include "SshOptions.h"
#include "Transport.h"
#include "mount/MountVerdict.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <limits.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QStringList words(const char* text)
{
    return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts);
}

QStringList fromStd(const std::vector<std::string>& list)
{
    QStringList result;
    for (const std::string& item : list)
        result << QString::fromStdString(item);
    return result;
}

} // namespace

// The sshfs adapter's parts that need neither root nor a server: the command lines, the client's
// output as the application gets it, the verdicts, the mount table, and when a client has
// outstayed its volume.
class TestAdapter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("given"); // "+": the application's volume options
        QTest::addColumn<QString>("error");     // "handed over": not the application's call
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("client"); // after /usr/bin/sshfs, with the listed /c
        const auto row = [](const char* name, const char* given, const char* error,
                            const char* host = "", const char* client = "") {
            QTest::newRow(name) << words(given) << QString::fromUtf8(error)
                                << QString::fromUtf8(host) << words(client);
        };
        row("the application's own", "h:/ /U/V/h +", "", "h",
            "-f -F /c -o reconnect -- h:/ /U/V/h");
        row("options kept once, -d and -f dropped, the -F given replaced",
            "-oidmap=user,,idmap=user -d -f -C -p 22 -F /my -o volname=a,b [::1]:/d /m", "", "::1",
            "-f -F /c -o reconnect -o idmap=user -C -p 22 -- [::1]:/d /m");
        row("an option before volname in one list", "-oro,volname=x h: /m", "", "h",
            "-f -F /c -o reconnect -o ro -- h: /m");
        row("brackets within a user's host", "+ user@[v6]:dir /m", "", "user@v6",
            "-f -F /c -o reconnect -- user@[v6]:dir /m");
        row("a person's command line", "h:/ /m -o reconnect", "handed over");
        row("volname as an operand", "-o ro -- -o volname=x h:/", "handed over");
        row("a host ssh would take for an option", "-o volname=x -- -oProxyCommand=x:/ /m",
            "a host name must not begin with \"-\"");
        row("brackets without a colon after them", "+ [::1] /m", "expected host:[dir]");
        row("a bracket never closed", "+ [h:/ /m", "expected host:[dir]");
    }

    void commandLine()
    {
        QFETCH(QStringList, given);
        QFETCH(QString, error);
        QFETCH(QString, host);
        QFETCH(QStringList, client);
        std::vector<std::string> arguments;
        for (const QString& word : given)
            for (const QString& w :
                 word == u"+" ? words("-o volname=h -o volicon=/i -o debug") : QStringList{word})
                arguments.push_back(w.toStdString());
        const std::vector<std::string_view> views(arguments.begin(), arguments.end());
        ClientCommand::Request request;
        std::string why = ClientCommand::isApplicationCall(views)
                              ? ClientCommand::parse(views, request)
                              : "handed over";
        // The remote in a buffer of its own size, where reading past its end is caught.
        const std::vector<char> remote(request.remote.begin(), request.remote.end());
        const std::string found =
            why.empty() ? ClientCommand::host({remote.data(), remote.size()}, why) : std::string();
        QCOMPARE(QString::fromStdString(why), error);
        QCOMPARE(QString::fromStdString(found), host);
        if (error.isEmpty())
            QCOMPARE(fromStd(ClientCommand::clientArguments(request, "/c", {"-o", "reconnect"})),
                     QStringList(u"/usr/bin/sshfs"_s) + client);
    }

    // The -F of the client's ssh for host "h": "$G" for a file of the adapter's, in the runtime
    // folder $T/run; the text of that file but for the defaults' two lines; what ssh -G makes of
    // it. The user's file is $T/<folder>/config ("$F"), ssh's own too; the system's $T/system.
    void sshConfiguration_data()
    {
        QTest::addColumn<QString>("given"); // the -F a person gives; "-": none
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("user"); // the user's file; null: none
        QTest::addColumn<QString>("config");
        QTest::addColumn<QString>("text"); // null: not looked at
        QTest::addColumn<int>("alive");    // ServerAliveInterval; -1: ssh -G not asked
        QTest::addColumn<int>("runtimeMode");
        const auto row = [](const char* name, const char* given, const char* folder,
                            const char* user, const char* config, const char* text, int alive = -1,
                            int mode = 0700) {
            QTest::newRow(name) << QString::fromUtf8(given) << QString::fromUtf8(folder)
                                << QByteArray(user) << QString::fromUtf8(config)
                                << QString::fromUtf8(text) << alive << mode;
        };
        const char* both = "Include \"$F\"\nInclude \"$T/system\"\nHost *";
        row("no user file: ssh's own, then the system's", "-", "u", nullptr, "$G", both);
        row("blanks in a path", "-", "a b", "Host a", "$G", both);
        row("a quote in the path of ssh's own file: ssh reads it alone", "-", "a\"b", "", "",
            nullptr);
        row("a runtime folder others may enter: ssh reads its files alone", "-", "u", "", "",
            nullptr, -1, 0750);
        row("a person's relative -F, alone", "u/config", "u", "", "$G", "Include \"$F\"\nHost *");
        row("a person's -F none", "none", "u", "", "$G", "Host *");
        row("nothing set; 'final' in a comment: ssh asked, no final pass", "$F", "u", "# not final",
            "$G", nullptr, 5);
        row("the user's ServerAliveInterval", "$F", "u", "ServerAliveInterval 7", "$G", nullptr, 7);
        row("the user's, under Match final", "$F", "u", "Match final\nServerAliveInterval 0", "$G",
            nullptr, 0);
        row("the user's, under Match canonical", "$F", "u",
            "CanonicalizeHostname yes\nMatch canonical\nServerAliveInterval 9", "$G", nullptr, 9);
        row("ssh -G past its bound: the defaults in the final pass alone", "$F", "u",
            "# final?\nMatch exec \"sleep 9\"", "$G", "Include \"$F\"\nMatch canonical");
    }

    void sshConfiguration()
    {
        QFETCH(QString, given);
        QFETCH(QString, folder);
        QFETCH(QByteArray, user);
        QFETCH(QString, config);
        QFETCH(QString, text);
        QFETCH(int, alive);
        QFETCH(int, runtimeMode);
        QTemporaryDir dir;
        const QString run = dir.filePath(u"run"_s), file = dir.filePath(folder + "/config"_L1);
        const auto expand = [&](QString s) {
            return s.replace("$F"_L1, file).replace("$T"_L1, dir.path());
        };
        QFile userFile(file);
        QVERIFY(QDir(dir.path()).mkpath(folder) && QDir().mkdir(run) &&
                chmod(QFile::encodeName(run).constData(), mode_t(runtimeMode)) == 0 &&
                QDir::setCurrent(dir.path()));
        QVERIFY(user.isNull() ||
                (userFile.open(QIODevice::WriteOnly) && userFile.write(user) >= 0));
        userFile.close();
        ClientCommand::Request request;
        if (given != "-"_L1)
            request.passed = {"-F", expand(given).toStdString()};
        const SshOptions options({file.toStdString(), file.toStdString(),
                                  expand(u"$T/system"_s).toStdString(), run.toStdString()});
        const QString got = QString::fromStdString(options.configFile(request, "h"));
        QFile generated(got);
        struct stat st;
        if (config == "$G"_L1)
            QVERIFY(got.startsWith(run + "/tollvane-sshfs/"_L1) &&
                    stat(QFile::encodeName(got).constData(), &st) == 0 &&
                    (st.st_mode & 0777) == 0600 && generated.open(QIODevice::ReadOnly));
        else
            QCOMPARE(got, expand(config));
        if (!text.isNull())
            QCOMPARE(
                QString::fromUtf8(generated.readAll()),
                expand(text) +
                    "\n    ConnectTimeout 10\n    ServerAliveInterval 5\n    LogVerbose sshconnect2.c:ssh_userauth2():*\n"_L1);
        if (alive < 0)
            return;
        QProcess ssh;
        ssh.start(u"/usr/bin/ssh"_s, {u"-G"_s, u"-F"_s, got, u"h"_s});
        QVERIFY(ssh.waitForFinished());
        const QByteArray settings = ssh.readAllStandardOutput();
        QVERIFY2(settings.contains("\nserveraliveinterval " + QByteArray::number(alive) + '\n') &&
                     settings.contains("\nconnecttimeout 10\n"),
                 settings.constData());
    }

    // What the client writes, in chunks, and the lines the application reads, one write each;
    // then the verdicts for `host`, each with exactly one phrase.
    void output_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("reason");
        const QByteArray e = "\xc3\xa9"; // é
        QTest::newRow("a phrase at the end of a line")
            << "failed-up"_ba << QByteArrayList{"ssh: connect failed\n"}
            << QByteArrayList{"ssh: connect Failed\n"} << "ssh: connect failed"_ba;
        QTest::newRow("joined phrases")
            << "statfsfailed"_ba
            << QByteArrayList{"Connection refusedremote host has disconnected statfsfailed\n"}
            << QByteArrayList{"connection refusedRemote host has disconnected StatfsFailed\n"}
            << "Connection refusedremote host has disconnected statfsfailed"_ba;
        QTest::newRow("lines as they come, one across two chunks")
            << "h"_ba << QByteArrayList{"1st\nssh: no ro", "ute\n"}
            << QByteArrayList{"1st\n", "ssh: no route\n"} << "ssh: no route"_ba;
        QTest::newRow("sshfs's words are not the reason; ssh's CR LF")
            << "statfs.invalid"_ba
            << QByteArrayList{"ssh: no route\r\nread: Connection reset by peer\n"}
            << QByteArrayList{"ssh: no route\r\n", "read: Connection reset by peer\n"}
            << "ssh: no route"_ba;
        QTest::newRow("bytes that are not UTF-8")
            << "h"_ba << QByteArrayList{"bad \xff\xc3\n"}
            << QByteArrayList{"bad \xef\xbf\xbd\xef\xbf\xbd\n"} << "bad \xff\xc3"_ba;
        QTest::newRow("a last line without its end")
            << "h"_ba << QByteArrayList{"ssh: gone"} << QByteArrayList{"ssh: gone\n"}
            << "ssh: gone"_ba;
        // Cut below PIPE_BUF, and between characters.
        QTest::newRow("a line longer than PIPE_BUF")
            << "h"_ba << QByteArrayList{e.repeated(PIPE_BUF) + '\n'}
            << QByteArrayList{e.repeated((PIPE_BUF - 1) / 2) + '\n'} << e.repeated(PIPE_BUF);
    }

    void output()
    {
        QFETCH(QByteArray, host);
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, reason);
        int client[2], reader[2]; // a datagram a write: each read gives one write whole
        QVERIFY(pipe(client) == 0 && socketpair(AF_UNIX, SOCK_SEQPACKET, 0, reader) == 0);
        LineWriter writer(reader[0]);
        ClientOutput output(writer);
        for (const QByteArray& chunk : chunks) {
            QCOMPARE(write(client[1], chunk.data(), chunk.size()), chunk.size());
            QVERIFY(output.readFrom(client[0]));
        }
        close(client[1]);
        while (output.readFrom(client[0])) {
        }
        QCOMPARE(QByteArray::fromStdString(output.reason()), reason);
        shutdown(reader[0], SHUT_WR);
        QByteArrayList read;
        char buffer[2 * PIPE_BUF];
        for (ssize_t n; (n = recv(reader[1], buffer, sizeof buffer, 0)) > 0;)
            read << QByteArray(buffer, n);
        QCOMPARE(read, lines);
        for (int fd : {client[0], reader[0], reader[1]})
            close(fd);
        for (const std::string& verdict :
             {MountVerdict::mounted(host.toStdString()),
              MountVerdict::failed(host.toStdString(), output.reason())}) {
            qsizetype phrases = 0;
            for (const std::string_view phrase :
                 {MountVerdict::confirmation, MountVerdict::failures[0], MountVerdict::failures[1],
                  MountVerdict::failures[2]})
                phrases += QByteArray::fromStdString(verdict).count(QByteArrayView(phrase));
            QCOMPARE(phrases, 1);
        }
    }

    // As the kernel writes it: escapes (one cut short), optional fields, stacked mounts (the top
    // one last), and a line without its separator.
    void mountTable()
    {
        MountTable table;
        table.parse(
            "36 35 0:42 / /V/b\\040l\\011a\\012n\\134k\\04 rw - fuse.sshfs a:/ rw\n"
            "37 1 0:43 / /m rw shared:1 master:2 - tmpfs x rw\n38 37 0:44 / /m rw - ext4 y rw\n"
            "40 1 0:46 / /n rw tmpfs x rw");
        const auto escaped = table.at("/V/b l\ta\nn\\k\\04"), stacked = table.at("/m");
        QVERIFY(escaped.size() == 1 && escaped[0].id == 36 && escaped[0].minor == 42 &&
                escaped[0].type == "fuse.sshfs");
        QVERIFY(stacked.size() == 2 && stacked[0].id == 37 && stacked[1].id == 38 &&
                stacked[1].type == "ext4" && stacked[1].minor == 44);
        QVERIFY(table.at("/n").empty() && !table.contains(40));
    }

    // A client is ended only once the kernel says its volume's connection is gone, and once; never
    // where that cannot be seen.
    void reaper()
    {
        QTemporaryDir connections;
        const QString connection = connections.filePath(u"45"_s);
        MountTable mounted, unmounted;
        mounted.parse("7 1 0:45 / /m rw - fuse.sshfs a:/ rw");
        ClientReaper reaper(connections.path().toStdString(), std::chrono::seconds(0));
        ClientReaper blind(connection.toStdString(), std::chrono::seconds(0));
        QVERIFY(QDir().mkdir(connection));
        for (ClientReaper* each : {&reaper, &blind})
            each->watch(7, 45);
        reaper.tableChanged(mounted);
        QVERIFY(!reaper.due());
        reaper.tableChanged(unmounted);
        blind.tableChanged(unmounted);
        QVERIFY(!reaper.due()); // the connection is still there
        QVERIFY(QDir().rmdir(connection) && reaper.due() && !reaper.due() && !blind.due());
    }

    // What a network check may end, on a real connection held in a process group as a client's:
    // a connection's holder and ssh, never anything else (an askpass asking the user); a local
    // address is gone only when the machine has it no more.
    void transport_data()
    {
        QTest::addColumn<QString>("holder"); // holds the TCP connection
        QTest::addColumn<QString>("beside"); // holds none
        QTest::addColumn<bool>("asking");
        QTest::newRow("ssh") << u"ssh"_s << QString() << false;
        QTest::newRow("a ProxyCommand, beside its ssh") << u"nc"_s << u"ssh"_s << false;
        QTest::newRow("an askpass beside ssh") << u"ssh"_s << u"tollvane-askpass"_s << true;
    }

    void transport()
    {
        QFETCH(QString, holder);
        QFETCH(QString, beside);
        QFETCH(bool, asking);
        QTemporaryDir bin;
        for (const QString& name : {holder, beside})
            QVERIFY(name.isEmpty() || QFile::copy(u"/bin/sleep"_s, bin.filePath(name)));
        const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t length = sizeof address;
        const int near = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                listen(listener, 1) == 0 &&
                getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                ::connect(near, reinterpret_cast<sockaddr*>(&address), length) == 0);
        const int far = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        // The leader, as the client, holds the connection only as its stdin, which it hands on.
        ChildProcess client;
        QVERIFY(client.start({"/bin/sh", "-c",
                              "exec 3<&0 0</dev/null; \"$0\" 60 <&3 3<&- & [ -z \"$1\" ] || "
                              "\"$1\" 60 3<&- & wait",
                              bin.filePath(holder).toStdString(),
                              beside.isEmpty() ? "" : bin.filePath(beside).toStdString()},
                             {.input = near, .ownGroup = true}));
        SocketTable table;
        QTRY_VERIFY(table.read() && !Transport(client.pid(), table).connections().empty());
        const Transport transport(client.pid(), table);
        const SocketTable::Address mapped{AF_INET6,
                                          {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 127, 0, 0, 1}};
        QCOMPARE(transport.asking(), asking);
        QVERIFY(transport.addressGone({}) && !transport.addressGone({mapped}) &&
                !transport.addressGone(SocketTable::localAddresses()));
        QVERIFY(transport.bound() >= std::chrono::seconds(1) &&
                transport.bound() <= std::chrono::seconds(15));
        QVERIFY(write(far, "x", 1) == 1);
        SocketTable later;
        QTRY_VERIFY(later.read() &&
                    Transport(client.pid(), later).received() > transport.received());
        transport.end();
        // The holder and an ssh beside it end; anything else stays.
        QTRY_COMPARE(ProcessGroup(client.pid(), client.pid()).members().size(), asking ? 1u : 0u);
        for (const int fd : {listener, near, far})
            close(fd);
    }
};

QTEST_GUILESS_MAIN(TestAdapter)
#include "tst_adapter.moc"
