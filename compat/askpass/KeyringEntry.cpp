#include "KeyringEntry.h"

using namespace Qt::StringLiterals;

bool KeyringEntry::wantsAccount(const AskpassPrompt& prompt)
{
    return prompt.kind() == AskpassPrompt::Kind::Secret &&
           prompt.text().endsWith("'s password: "_L1);
}

std::optional<KeyringEntry> KeyringEntry::forPrompt(const AskpassPrompt& prompt,
                                                    const QString& account, const QString& alias)
{
    if (prompt.kind() != AskpassPrompt::Kind::Secret)
        return std::nullopt;
    // ssh's own prompts, which it has no translations of: "user@host's password: " (host as the
    // configuration's HostName gives it) and "Enter passphrase for key '%.100s': ".
    const QString& text = prompt.text();
    const QString userAtHost = account.left(account.lastIndexOf(u':'));
    if (!userAtHost.isEmpty() && !alias.isEmpty() && text == userAtHost + "'s password: "_L1)
        return KeyringEntry(u"password"_s, account,
                            "Tollvane: password for "_L1 + alias + " ("_L1 + account + u')');
    const auto start = "Enter passphrase for key '"_L1, end = "': "_L1;
    if (text.startsWith(start) && text.endsWith(end) && text.size() > start.size() + end.size()) {
        const QString file = text.sliced(start.size(), text.size() - start.size() - end.size());
        // Cut at 100 bytes, a path could be another key's; a relative one depends on where ssh
        // runs.
        if (file.startsWith(u'/') && file.toUtf8().size() < 100)
            return KeyringEntry(u"passphrase"_s, file, "Tollvane: passphrase for key "_L1 + file);
    }
    return std::nullopt;
}
