#pragma once

#include <QString>

// Lets a test make real mounts without touching the machine: the test process moves into a
// private mount namespace of its own. Needs root; `reason` says why it could not.
class PrivateMounts
{
public:
    static bool enter(QString* reason);
    static bool mountTmpfs(const QString& path);
    static bool unmount(const QString& path);
};

// In a test slot: skip without root, but fail under CI, where every test must run.
#define TOLLVANE_REQUIRE_PRIVATE_MOUNTS()                                                          \
    do {                                                                                           \
        QString reason_;                                                                           \
        if (!PrivateMounts::enter(&reason_)) {                                                     \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                               \
                QFAIL(qPrintable(reason_));                                                        \
            QSKIP(qPrintable(reason_));                                                            \
        }                                                                                          \
    } while (false)
