#include "ClientCommand.h"
#include "ClientOutput.h"
#include "ClientReaper.h"
#include "MountTable.h"
#include "SshOptions.h"
#include "mount/MountVerdict.h"

#include <QDir>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <limits.h>
#include <sys/socket.h>
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
// output as the application gets it, the verdicts, the mount table, what ssh makes of its defaults,
// and when a client has outstayed its volume.
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
        row("options kept once, -d and -f dropped, the -F given",
            "-oidmap=user,,idmap=user -d -f -C -p 22 -F /my -o volname=a,b [::1]:/d /m", "", "::1",
            "-f -F /my -o reconnect -o idmap=user -C -p 22 -- [::1]:/d /m");
        row("an option before volname in one list", "-oro,volname=x h: /m", "", "h",
            "-f -F /c -o reconnect -o ro -- h: /m");
        row("brackets within a user's host", "+ user@[v6]:dir /m", "", "user@v6",
            "-f -F /c -o reconnect -- user@[v6]:dir /m");
        row("a person's command line", "h:/ /m -o reconnect", "handed over");
        row("volname as an operand", "-o ro -- -o volname=x h:/", "handed over");
        row("a host ssh would take for an option", "-o volname=x -- -oProxyCommand=x:/ /m",
            "a host name must not begin with \"-\"");
        row("no host", "+ :/ /m", "expected host:[dir]");
        row("brackets without a colon after them", "+ [::1] /m", "expected host:[dir]");
        row("a bracket never closed", "+ [h:/ /m", "expected host:[dir]");
        row("an option without its argument", "+ h:/ /m -p", "-p needs an argument");
        row("three operands", "+ h:/ /m /n",
            "usage: sshfs [-o options] [--] host:[dir] mountpoint");
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
            QCOMPARE(fromStd(ClientCommand::clientArguments(
                         request, ClientCommand::configFile(request, "/c"), {"-o", "reconnect"})),
                     QStringList(u"/usr/bin/sshfs"_s) + client);
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

    void mountTable_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QList<int>>("ids"); // of the mounts there, the top one last
        QTest::addColumn<QString>("type");   // of the top one
        QTest::addColumn<int>("minor");
        QTest::newRow("blank, tab, line feed and backslash escaped; an escape cut short")
            << "36 35 0:42 / /V/b\\040l\\011a\\012n\\134k\\04 rw - fuse.sshfs a:/ rw\n"_ba
            << u"/V/b l\ta\nn\\k\\04"_s << QList<int>{36} << u"fuse.sshfs"_s << 42;
        QTest::newRow("optional fields; stacked mounts in order")
            << "37 1 0:43 / /m rw shared:1 master:2 - tmpfs x rw\n38 37 0:44 / /m rw - ext4 y rw"_ba
            << u"/m"_s << QList<int>{37, 38} << u"ext4"_s << 44;
        QTest::newRow("a line without its separator")
            << "40 1 0:46 / /m rw tmpfs x rw\n"_ba << u"/m"_s << QList<int>{} << QString() << 0;
    }

    void mountTable()
    {
        QFETCH(QByteArray, table);
        QFETCH(QString, path);
        QFETCH(QList<int>, ids);
        QFETCH(QString, type);
        QFETCH(int, minor);
        MountTable parsed;
        parsed.parse(table.toStdString());
        const auto entries = parsed.at(path.toStdString());
        QList<int> found;
        for (const auto& entry : entries)
            found << int(entry.id);
        QCOMPARE(found, ids);
        QCOMPARE(entries.empty() ? QString() : QString::fromStdString(entries.back().type), type);
        QCOMPARE(entries.empty() ? 0 : int(entries.back().minor), minor);
    }

    // What ssh makes of the user's configuration and the adapter's after it.
    void sshOptions_data()
    {
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QStringList>("effective"); // connecttimeout, serveraliveinterval
        QTest::newRow("nothing set") << "Host h\n    User u\n"_ba << words("10 5");
        QTest::newRow("the user's own win")
            << "Host h\n    ConnectTimeout 3\n    ServerAliveInterval 60\n"_ba << words("3 60");
        QTest::newRow("the user's for every host, 0 too")
            << "Host *\n    ServerAliveInterval 0\n"_ba << words("10 0");
    }

    void sshOptions()
    {
        QFETCH(QByteArray, user);
        QFETCH(QStringList, effective);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(user) == user.size() && file.flush());
        const std::string config = SshOptions::configFile(file.fileName().toStdString());
        QProcess ssh;
        ssh.start(u"/usr/bin/ssh"_s, {u"-G"_s, u"-F"_s, QString::fromStdString(config), u"h"_s});
        QVERIFY(ssh.waitForFinished() && ssh.exitCode() == 0);
        QMap<QByteArray, QString> settings;
        for (const QByteArray& line : ssh.readAllStandardOutput().split('\n'))
            settings[line.left(line.indexOf(' '))] =
                QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
        const QStringList found = {settings["connecttimeout"], settings["serveraliveinterval"]};
        QCOMPARE(found, effective);
    }

    // A client is ended only once the kernel says its volume's connection is gone.
    void reaper_data()
    {
        QTest::addColumn<bool>("fusectl"); // the connection was seen at the confirmation
        QTest::addColumn<bool>("unmounted");
        QTest::addColumn<bool>("connectionEnded");
        QTest::addColumn<bool>("ended");
        QTest::newRow("volume and connection gone") << true << true << true << true;
        QTest::newRow("still in the mount table") << true << false << true << false;
        QTest::newRow("its connection still there") << true << true << false << false;
        QTest::newRow("no fusectl") << false << true << true << false;
    }

    void reaper()
    {
        QFETCH(bool, fusectl);
        QFETCH(bool, unmounted);
        QFETCH(bool, connectionEnded);
        QFETCH(bool, ended);
        QTemporaryDir connections;
        const QString connection = connections.filePath(u"45"_s);
        QVERIFY(!fusectl || QDir().mkdir(connection));
        ClientReaper reaper(connections.path().toStdString(), std::chrono::seconds(0));
        reaper.watch(7, 45);
        MountTable table;
        table.parse(unmounted ? "" : "7 1 0:45 / /m rw - fuse.sshfs a:/ rw\n");
        reaper.tableChanged(table);
        QVERIFY(!connectionEnded || QDir().rmdir(connection) || !fusectl);
        QCOMPARE(reaper.due(), ended);
        QVERIFY(!reaper.due()); // once
    }
};

QTEST_GUILESS_MAIN(TestAdapter)
#include "tst_adapter.moc"
