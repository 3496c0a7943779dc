#include "PrivateMounts.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

bool PrivateMounts::enter(QString* reason)
{
    static bool entered = false;
    static QString failure;
    if (entered)
        return true;
    if (!failure.isEmpty()) {
        *reason = failure;
        return false;
    }
    if (geteuid() != 0) {
        failure = QStringLiteral("needs root for a private mount namespace");
    } else if (unshare(CLONE_NEWNS) != 0 ||
               mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        failure = QStringLiteral("cannot make a private mount namespace: ") +
                  QString::fromLocal8Bit(strerror(errno));
    } else {
        entered = true;
        return true;
    }
    *reason = failure;
    return false;
}

bool PrivateMounts::mountTmpfs(const QString& path)
{
    return mount("tollvane-test", QFile::encodeName(path).constData(), "tmpfs", 0, "size=16m") == 0;
}

bool PrivateMounts::unmount(const QString& path)
{
    return umount2(QFile::encodeName(path).constData(), MNT_DETACH) == 0;
}
