#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include <sys/types.h>

// The account an ssh process logs in to, "user@host:port", as `ssh -G` resolves that process's
// own command line (its configuration file, its options, its host): ssh's password prompt names
// the user and the host but not the port. A jump host's ssh gives the jump host's account. With
// it, the alias: the host as that command line names it.
class SshAccount : public QObject
{
    Q_OBJECT

public:
    // "user@host:port", and the host as the command line names it.
    struct Route
    {
        QString account;
        QString alias;
    };

    using QObject::QObject;

    // Calls `done` once, with the route of the ssh process `pid`, or with nothing when ssh -G
    // cannot tell within a few seconds.
    void resolve(pid_t pid, std::function<void(const Route&)> done);

    // From the output of `ssh -G`; empty when it lacks the host, the user, the host name or the
    // port.
    static Route fromSettings(const QByteArray& settings);
};
