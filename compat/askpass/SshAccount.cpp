#include "SshAccount.h"

#include <QFile>
#include <QProcess>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Long enough for an ssh -G that reads files; a `Match exec` or a slow canonicalisation could take
// for ever, and the dialog must not wait on it.
constexpr int boundMilliseconds = 3000;

} // namespace

void SshAccount::resolve(pid_t pid, std::function<void(const QString&)> done)
{
    QFile file(u"/proc/%1/cmdline"_s.arg(pid));
    QStringList arguments;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& argument : file.readAll().split('\0'))
            arguments << QString::fromLocal8Bit(argument);
    // Its program and the empty word after the last NUL give way to -G; nothing else changes.
    if (arguments.size() < 3)
        return done({});
    arguments.removeLast();
    arguments.first() = u"-G"_s;

    auto* process = new QProcess(this);
    // A group of its own, which ends with it: what a `Match exec` started too.
    process->setChildProcessModifier([] { setpgid(0, 0); });
    process->setStandardInputFile(QProcess::nullDevice());
    // Nothing on standard error: ssh passes ours to the mount adapter.
    process->setStandardErrorFile(QProcess::nullDevice());
    auto once = std::make_shared<std::function<void(const QString&)>>(std::move(done));
    const auto finish = [once, process](const QString& account) {
        if (*once)
            std::exchange(*once, nullptr)(account);
        process->deleteLater();
    };
    connect(process, &QProcess::finished, this,
            [process, finish](int code, QProcess::ExitStatus status) {
                finish(status == QProcess::NormalExit && code == 0
                           ? fromSettings(process->readAllStandardOutput())
                           : QString());
            });
    connect(process, &QProcess::errorOccurred, this, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish({});
    });
    QTimer::singleShot(boundMilliseconds, process, [process, finish] {
        kill(-static_cast<pid_t>(process->processId()), SIGKILL);
        finish({});
    });
    process->start(u"/usr/bin/ssh"_s, arguments);
}

QString SshAccount::fromSettings(const QByteArray& settings)
{
    // ssh -G prints every setting, a line each, as "name value".
    QByteArray user, hostname, port;
    for (const QByteArray& line : settings.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        const QByteArray name = line.left(space), value = line.mid(space + 1);
        if (space < 0)
            continue;
        if (name == "user")
            user = value;
        else if (name == "hostname")
            hostname = value;
        else if (name == "port")
            port = value;
    }
    if (user.isEmpty() || hostname.isEmpty() || port.isEmpty())
        return {};
    return QString::fromLocal8Bit(user + '@' + hostname + ':' + port);
}
