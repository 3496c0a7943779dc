#include "mount/CommandLine.h"

#include "catalogue/SSHFSServer.h"
#include "platform/UserAccount.h"

using namespace Qt::StringLiterals;

bool CommandLine::isSafeWord(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool safe = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') ||
                          (u >= u'0' && u <= u'9') || QStringView(u"@%+=:,./_-").contains(c);
        if (!safe)
            return false;
    }
    return true;
}

QString CommandLine::insideQuotes(const QString& text)
{
    QString quoted = text;
    return quoted.replace(u'\'', "'\\''"_L1);
}

QString CommandLine::shellWord(const QString& text)
{
    return isSafeWord(text) ? text : u'\'' + insideQuotes(text) + u'\'';
}

QString CommandLine::volumeIconPath()
{
    return UserAccount::userFolder() +
           "/Library/Application\\ Support/Tollvane/VolumeIcon.icns"_L1;
}

QString CommandLine::mount(const SSHFSServer& server)
{
    const QString remote = shellWord(server.host + ":/"_L1);
    const QString options = " -o volname='"_L1 + insideQuotes(server.host) + "' -o volicon='"_L1 +
                            insideQuotes(volumeIconPath()) + "' -o debug"_L1;
    // A name that starts with "-" would be read as an option: put the options first and end them.
    if (server.host.startsWith(u'-'))
        return "/usr/local/bin/sshfs"_L1 + options + " -- "_L1 + remote + u' ' +
               shellWord(server.path);
    return "/usr/local/bin/sshfs "_L1 + remote + u' ' + shellWord(server.path) + options;
}

QString CommandLine::unmount(const SSHFSServer& server)
{
    return "/usr/sbin/diskutil unmountDisk force "_L1 + shellWord(server.path);
}
