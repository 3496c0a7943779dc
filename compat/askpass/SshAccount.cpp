#include "SshAccount.h"

#include "ChildProcess.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <memory>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Long enough for an ssh -G that reads files; a `Match exec` or a slow canonicalisation could take
// for ever, and the dialog must not wait on it.
constexpr int boundMilliseconds = 3000;

} // namespace

void SshAccount::resolve(pid_t pid, std::function<void(const Route&)> done)
{
    // Its program and the empty word after the last NUL give way to ssh -G; nothing else changes.
    QFile file(u"/proc/%1/cmdline"_s.arg(pid));
    std::vector<std::string> arguments = {"/usr/bin/ssh", "-G"};
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& argument : file.readAll().split('\0').mid(1))
            arguments.push_back(argument.toStdString());
    arguments.pop_back();
    int out[2];
    if (arguments.size() < 3 || pipe2(out, O_CLOEXEC | O_NONBLOCK) != 0)
        return done({});
    // A group of its own, which ends with it: what a `Match exec` started too.
    auto ssh = std::make_shared<ChildProcess>();
    const bool started = ssh->start(arguments, {.output = out[1], .ownGroup = true});
    close(out[1]);
    if (!started) {
        close(out[0]);
        return done({});
    }
    auto* output = new QSocketNotifier(out[0], QSocketNotifier::Read, this);
    auto text = std::make_shared<QByteArray>();
    auto once = std::make_shared<std::function<void(const Route&)>>(std::move(done));
    // At the end of its output, or at the bound: then it is killed, as it holds nothing to lose
    // and the dialog's event loop must not wait out a TERM.
    const auto finish = [once, output, ssh, text](bool whole) {
        if (!*once)
            return;
        output->setEnabled(false);
        close(int(output->socket()));
        output->deleteLater();
        if (!whole)
            ssh->signal(SIGKILL);
        const std::optional<int> status = ssh->wait(std::chrono::milliseconds(whole ? 1000 : 0));
        const bool answered = whole && status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
        std::exchange(*once, nullptr)(answered ? fromSettings(*text) : Route());
    };
    connect(output, &QSocketNotifier::activated, this, [output, text, finish] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(int(output->socket()), buffer, sizeof buffer)) > 0)
            text->append(buffer, n);
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            finish(true);
    });
    QTimer::singleShot(boundMilliseconds, this, [finish] { finish(false); });
}

SshAccount::Route SshAccount::fromSettings(const QByteArray& settings)
{
    // ssh -G prints every setting, a line each, as "name value"; "host" is the one named.
    QByteArray host, user, hostname, port;
    for (const QByteArray& line : settings.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray name = line.left(space), value = line.mid(space + 1);
        if (space < 0)
            continue;
        if (name == "host")
            host = value;
        else if (name == "user")
            user = value;
        else if (name == "hostname")
            hostname = value;
        else if (name == "port")
            port = value;
    }
    if (host.isEmpty() || user.isEmpty() || hostname.isEmpty() || port.isEmpty())
        return {};
    return {QString::fromLocal8Bit(user + '@' + hostname + ':' + port),
            QString::fromLocal8Bit(host)};
}
