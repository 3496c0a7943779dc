#include "KeyringEntry.h"

using namespace Qt::StringLiterals;

std::optional<KeyringEntry> KeyringEntry::forPrompt(const AskpassPrompt& prompt,
                                                    const QString& destination)
{
    if (prompt.kind() != AskpassPrompt::Kind::Secret)
        return std::nullopt;
    // ssh's own prompts, which it has no translations of: "user@host's password: " (host as the
    // configuration's HostName gives it) and "Enter passphrase for key '%.100s': ".
    const QString& text = prompt.text();
    const QString account = destination.left(destination.lastIndexOf(u':'));
    if (!account.isEmpty() && text == account + "'s password: "_L1)
        return KeyringEntry(u"password"_s, destination);
    const auto start = "Enter passphrase for key '"_L1, end = "': "_L1;
    if (text.startsWith(start) && text.endsWith(end) && text.size() > start.size() + end.size()) {
        const QString file = text.sliced(start.size(), text.size() - start.size() - end.size());
        // Cut at 100 bytes, a path could be another key's; a relative one depends on where ssh
        // runs.
        if (file.startsWith(u'/') && file.toUtf8().size() < 100)
            return KeyringEntry(u"passphrase"_s, file);
    }
    return std::nullopt;
}

QString KeyringEntry::label() const
{
    return what_ == "password"_L1 ? "Tollvane: password for "_L1 + key_
                                  : "Tollvane: passphrase for key "_L1 + key_;
}
