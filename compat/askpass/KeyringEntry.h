#pragma once

#include "AskpassPrompt.h"

#include <QString>

#include <optional>

// The keyring entry that may hold the answer to a question of ssh's: a password by its route (the
// host as the user named it, and the user, host and port that resolves to), a key's passphrase by
// the key's file. Host keys, yes/no questions, PINs, codes and a server's own questions have none:
// they are never stored nor answered from there.
class KeyringEntry
{
public:
    // `account` is "user@host:port" of the ssh that asks and `alias` the host its command line
    // names (SshAccount), which a password's entry needs: ssh's password prompt names no port,
    // and two names may reach one address by different ways. A password prompt for another
    // account has none.
    static std::optional<KeyringEntry> forPrompt(const AskpassPrompt& prompt,
                                                 const QString& account, const QString& alias);
    // Whether `prompt` is ssh's password prompt, whose entry needs the account.
    static bool wantsAccount(const AskpassPrompt& prompt);

    // What the entry is found by, with its label: "user@host:port", or the key's file.
    const QString& key() const { return key_; }
    // As a keyring application lists it: "Tollvane: password for alias (user@host:port)".
    const QString& label() const { return label_; }
    // "password" or "passphrase".
    const QString& what() const { return what_; }

private:
    KeyringEntry(QString what, QString key, QString label)
        : what_(std::move(what)), key_(std::move(key)), label_(std::move(label))
    {}

    QString what_;
    QString key_;
    QString label_;
};
