#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include <sys/types.h>

// The account an ssh process logs in to, "user@host:port", as `ssh -G` resolves that process's
// own command line (its configuration file, its options, its host): ssh's password prompt names
// the user and the host but not the port. A jump host's ssh gives the jump host's account.
class SshAccount : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Calls `done` once, with the account of the ssh process `pid`, or with nothing when ssh -G
    // cannot tell within a few seconds.
    void resolve(pid_t pid, std::function<void(const QString&)> done);

    // From the output of `ssh -G`; empty when it lacks the user, the host name or the port.
    static QString fromSettings(const QByteArray& settings);
};
