#pragma once

#include <QFile>
#include <QTest>

#include <sched.h>
#include <sys/mount.h>

// Real mounts that do not touch the machine: the test process moves into a private mount
// namespace of its own (needs root).
namespace PrivateMounts {

inline bool mountTmpfs(const QString& path)
{
    return mount("tollvane-test", QFile::encodeName(path).constData(), "tmpfs", 0, nullptr) == 0;
}

inline void unmount(const QString& path)
{
    umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

} // namespace PrivateMounts

// In a test slot: skip without root, but fail under CI, where every test must run.
#define TOLLVANE_REQUIRE_PRIVATE_MOUNTS()                                                          \
    do {                                                                                           \
        static const bool inside =                                                                 \
            unshare(CLONE_NEWNS) == 0 &&                                                           \
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;                     \
        if (!inside && qEnvironmentVariable("CI") == QLatin1String("true"))                        \
            QFAIL("needs root for a private mount namespace");                                     \
        if (!inside)                                                                               \
            QSKIP("needs root for a private mount namespace");                                     \
    } while (false)
