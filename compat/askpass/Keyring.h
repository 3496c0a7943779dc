#pragma once

#include "KeyringEntry.h"

#include <QObject>

#include <functional>

namespace QKeychain {
class Job;
}

// The desktop's keyring (the Secret Service, or KWallet), through QtKeychain. Every call ends
// within a few seconds: a keyring that does not answer by then counts as none, so a dialog never
// waits on it for longer.
class Keyring : public QObject
{
    Q_OBJECT

public:
    enum class Lookup {
        Found,     // an answer is stored
        NotStored, // the keyring answered: nothing is stored for the entry
        NoKeyring, // none on the session bus, a locked one not unlocked, an error, or no answer
    };

    using QObject::QObject;

    // Calls `done` once, with the stored answer when there is one.
    void read(const KeyringEntry& entry, std::function<void(Lookup, const QString&)> done);
    // Stores `secret` for the entry, replacing what was there; calls `done` once, with whether
    // it was stored.
    void write(const KeyringEntry& entry, const QString& secret, std::function<void(bool)> done);

private:
    // Starts `job` and calls `done` once: with the job when it has finished, with nothing when
    // it has not within the bound.
    void run(QKeychain::Job* job, std::function<void(const QKeychain::Job*)> done);
};
