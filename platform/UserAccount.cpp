#include "platform/UserAccount.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace {

// getpwuid_r rather than getpwuid: the catalogue may be parsed on any thread.
QString passwordField(char* passwd::*field)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    passwd entry{};
    passwd* result = nullptr;
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return result ? QString::fromLocal8Bit(result->*field) : QString();
}

} // namespace

QString UserAccount::loginName()
{
    // Asked for every Host line; the password database is read once per process.
    static const QString name = passwordField(&passwd::pw_name);
    return name;
}

QString UserAccount::userFolder()
{
    return QLatin1String("/Users/") + loginName();
}

QString UserAccount::homeDirectory()
{
    return passwordField(&passwd::pw_dir);
}
