#pragma once

#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

// Lets a test make real mounts without touching the machine: the test process moves into a
// private mount namespace of its own. Needs root.
class PrivateMounts
{
public:
    // Empty once inside, else why it could not enter.
    static QString enter()
    {
        static const QString failure = []() -> QString {
            if (geteuid() != 0)
                return QStringLiteral("needs root for a private mount namespace");
            if (unshare(CLONE_NEWNS) != 0 ||
                mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return QStringLiteral("cannot make a private mount namespace: ") +
                       QString::fromLocal8Bit(strerror(errno));
            return QString();
        }();
        return failure;
    }
    static bool mountTmpfs(const QString& path)
    {
        return mount("tollvane-test", QFile::encodeName(path).constData(), "tmpfs", 0,
                     "size=16m") == 0;
    }
    static bool unmount(const QString& path)
    {
        return umount2(QFile::encodeName(path).constData(), MNT_DETACH) == 0;
    }
};

// In a test slot: skip without root, but fail under CI, where every test must run.
#define TOLLVANE_REQUIRE_PRIVATE_MOUNTS()                                                          \
    do {                                                                                           \
        if (const QString reason_ = PrivateMounts::enter(); !reason_.isEmpty()) {                  \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                               \
                QFAIL(qPrintable(reason_));                                                        \
            QSKIP(qPrintable(reason_));                                                            \
        }                                                                                          \
    } while (false)
