#include "Keyring.h"

#include <qt6keychain/keychain.h>

#include <QTimer>

namespace {

// Long enough for a keyring that answers at all (tens of milliseconds here) and for a quick
// unlock; a dialog must not wait on one that hangs, nor on an unlock prompt left open.
constexpr int boundMilliseconds = 5000;

} // namespace

void Keyring::read(const KeyringEntry& entry, std::function<void(Lookup, const QString&)> done)
{
    auto* job = new QKeychain::ReadPasswordJob(entry.label(), this);
    job->setKey(entry.key());
    run(job, [done = std::move(done)](const QKeychain::Job* finished) {
        if (!finished)
            return done(Lookup::NoKeyring, {});
        switch (finished->error()) {
        case QKeychain::NoError:
            return done(Lookup::Found,
                        static_cast<const QKeychain::ReadPasswordJob*>(finished)->textData());
        case QKeychain::EntryNotFound:
            return done(Lookup::NotStored, {});
        default:
            return done(Lookup::NoKeyring, {});
        }
    });
}

void Keyring::write(const KeyringEntry& entry, const QString& secret,
                    std::function<void(bool)> done)
{
    // The label is the service's name: QtKeychain gives libsecret that as the item's label.
    auto* job = new QKeychain::WritePasswordJob(entry.label(), this);
    job->setKey(entry.key());
    job->setTextData(secret);
    run(job, [done = std::move(done)](const QKeychain::Job* finished) {
        done(finished && finished->error() == QKeychain::NoError);
    });
}

void Keyring::run(QKeychain::Job* job, std::function<void(const QKeychain::Job*)> done)
{
    // Shared by the two ways to end; whichever comes first takes it.
    auto once = std::make_shared<std::function<void(const QKeychain::Job*)>>(std::move(done));
    const auto finish = [once](const QKeychain::Job* finished) {
        if (*once)
            std::exchange(*once, nullptr)(finished);
    };
    QTimer::singleShot(boundMilliseconds, this, [finish] { finish(nullptr); });
    connect(job, &QKeychain::Job::finished, this, finish);
    job->start();
}
