#include "AskpassFolder.h"

#include "PrivateFolder.h"
#include "ProcessStat.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::string_view givenPrefix = "given-";

} // namespace

AskpassFolder::AskpassFolder(const std::string& runtimeFolder, bool make)
    : fd_(PrivateFolder::open(runtimeFolder, "tollvane-askpass", make))
{}

AskpassFolder::~AskpassFolder()
{
    if (fd_ >= 0)
        close(fd_);
}

bool AskpassFolder::has(const std::string& name) const
{
    return faccessat(fd_, name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

void AskpassFolder::make(const std::string& name) const
{
    const int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
}

void AskpassFolder::remove(const std::string& name) const
{
    unlinkat(fd_, name.c_str(), 0);
}

void AskpassFolder::forEach(const std::function<void(const std::string&)>& visit) const
{
    DIR* listing = fd_ >= 0 ? fdopendir(dup(fd_)) : nullptr;
    if (!listing)
        return;
    while (const dirent* file = readdir(listing))
        visit(file->d_name);
    closedir(listing);
}

std::string AskpassFolder::processName(pid_t pid)
{
    if (pid <= 0 || ProcessStat::field(pid, 3) == "Z")
        return {};
    const std::string start = ProcessStat::field(pid, 22);
    return start.empty() ? start : std::to_string(pid) + '-' + start;
}

std::string AskpassFolder::givenName(const std::string& entry, const std::string& process)
{
    return std::string(givenPrefix) + entry + '-' + process;
}

std::string AskpassFolder::givenTo(const std::string& entry) const
{
    const std::string start = givenName(entry, {});
    std::string process;
    forEach([&](const std::string& name) {
        if (name.starts_with(start))
            process = name.substr(start.size());
    });
    return process;
}

void AskpassFolder::noteLoggedIn(pid_t ssh)
{
    const std::string process = processName(ssh);
    if (process.empty())
        return;
    // "given-ENTRY-PROCESS", where the entry's digest holds no dash.
    forEach([&](const std::string& name) {
        const std::size_t dash = name.find('-', givenPrefix.size());
        if (name.starts_with(givenPrefix) && dash != name.npos &&
            name.compare(dash + 1, name.npos, process) == 0)
            remove(name);
    });
}
