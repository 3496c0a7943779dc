#include "SshOptions.h"

#include "FinalPassQuery.h"
#include "FinalPassScan.h"
#include "MountPoint.h"
#include "SessionFile.h"
#include "SshConfigText.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>

#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool sameFile(const std::string& one, const std::string& other)
{
    struct stat a, b;
    return one == other || (stat(one.c_str(), &a) == 0 && stat(other.c_str(), &b) == 0 &&
                            a.st_dev == b.st_dev && a.st_ino == b.st_ino);
}

// A -F file as a person means it, from the working directory: sshfs changes its own before it
// starts ssh. "none" stays.
std::string absolute(const std::string& given)
{
    char folder[PATH_MAX];
    if (given.starts_with('/') || strcasecmp(given.c_str(), "none") == 0 ||
        !getcwd(folder, sizeof folder))
        return given;
    return std::string(folder) + '/' + given;
}

// ssh fails on a -F file that is missing, and on an included one that another user owns or that
// others may write to, which it allows in a -F file.
bool includedAlike(const std::string& file)
{
    struct stat st;
    return stat(file.c_str(), &st) == 0 && (st.st_uid == 0 || st.st_uid == getuid()) &&
           !(st.st_mode & 022);
}

} // namespace

SshOptions::Places SshOptions::Places::ofUser()
{
    const passwd* account = getpwuid(getuid()); // as ssh finds its own file
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return {MountPoint::userFolder() + "/.ssh/config",
            account ? account->pw_dir + std::string("/.ssh/config") : std::string(),
            "/etc/ssh/ssh_config", runtime ? runtime : ""};
}

std::string SshOptions::configFile(const ClientCommand::Request& request,
                                   const std::string& host) const
{
    std::vector<std::string> files;
    std::string direct; // for ssh without the adapter's file
    if (const std::string* given = ClientCommand::givenConfig(request)) {
        direct = absolute(*given);
        if (strcasecmp(given->c_str(), "none") != 0) {
            if (!includedAlike(direct))
                return direct;
            files = {direct}; // ssh reads no other file then
        }
    } else {
        const std::string user =
            access(places_.listed.c_str(), F_OK) == 0 ? places_.listed : places_.own;
        files = {user, places_.system};
        if (!sameFile(user, places_.own))
            direct = user;
    }
    const std::optional<std::string> text = SshConfigText::compose(files, false);
    const SessionFile session(places_.runtime);
    if (text && FinalPassScan::maybe(files)) {
        // Asked of the very file the client's ssh reads should it make that pass.
        const std::string forFinalPass = session.store(*SshConfigText::compose(files, true));
        if (forFinalPass.empty())
            return direct;
        std::vector<std::string> target = {"--", host};
        const auto port = std::find(request.passed.begin(), request.passed.end(), "-p");
        if (port != request.passed.end() && port + 1 != request.passed.end())
            target.insert(target.begin(), {"-p", *(port + 1)});
        if (FinalPassQuery::makesOne(forFinalPass, target))
            return forFinalPass;
    }
    const std::string stored = text ? session.store(*text) : std::string();
    return stored.empty() ? direct : stored;
}
