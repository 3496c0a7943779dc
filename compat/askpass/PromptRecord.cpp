#include "PromptRecord.h"

#include "ProcessStat.h"

#include <QCryptographicHash>
#include <QFile>

#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char refusedPrefix[] = "refused-";

// The start time of process `pid`; empty when it is gone.
std::string startTime(pid_t pid)
{
    return ProcessStat::field(pid, 22);
}

// The folder, made if need be, when it is this user's alone; -1 otherwise.
int openPrivateFolder(const QString& runtimeFolder)
{
    if (!runtimeFolder.startsWith(u'/'))
        return -1;
    const std::string path = QFile::encodeName(runtimeFolder).toStdString() + "/tollvane-askpass";
    mkdir(path.c_str(), 0700);
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (folder >= 0 && fstat(folder, &st) == 0 && st.st_uid == geteuid() && !(st.st_mode & 077))
        return folder;
    if (folder >= 0)
        close(folder);
    return -1;
}

} // namespace

PromptRecord::PromptRecord(const QString& runtimeFolder, pid_t ssh, const QString& entry)
    : folder_(openPrivateFolder(runtimeFolder))
{
    const std::string start = ssh > 0 ? startTime(ssh) : std::string();
    if (folder_ < 0 || start.empty())
        return;
    process_ = std::to_string(ssh) + '-' + start + '-';
    entry_ = QCryptographicHash::hash(entry.toUtf8(), QCryptographicHash::Sha256)
                 .toHex()
                 .left(32)
                 .toStdString();
    char given = 0;
    if (const int fd =
            openat(folder_, (process_ + entry_).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        fd >= 0) {
        asked_ = true;
        if (read(fd, &given, 1) != 1)
            given = 0;
        close(fd);
    }
    const std::string refusal = refusedPrefix + entry_;
    if (given == 'k') { // asked again after the stored answer: the server refused it
        const int fd =
            openat(folder_, refusal.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            close(fd);
    }
    refused_ = faccessat(folder_, refusal.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
}

PromptRecord::~PromptRecord()
{
    if (folder_ >= 0)
        close(folder_);
}

void PromptRecord::noteAnswer(bool fromKeyring)
{
    if (process_.empty())
        return;
    forgetEndedProcesses();
    const int fd = openat(folder_, (process_ + entry_).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    if (write(fd, fromKeyring ? "k" : "t", 1) != 1) {
        // a record that says nothing counts as a typed answer: nothing is given automatically
    }
    close(fd);
}

void PromptRecord::noteStored()
{
    if (!process_.empty())
        unlinkat(folder_, (refusedPrefix + entry_).c_str(), 0);
}

// The files of ssh processes that have ended: the folder keeps one per connection otherwise.
void PromptRecord::forgetEndedProcesses()
{
    DIR* listing = fdopendir(dup(folder_));
    if (!listing)
        return;
    while (const dirent* file = readdir(listing)) {
        const std::string name = file->d_name;
        const std::size_t dash = name.find('-'), second = name.find('-', dash + 1);
        if (name.starts_with(refusedPrefix) || second == std::string::npos)
            continue;
        const pid_t pid = static_cast<pid_t>(std::atoi(name.substr(0, dash).c_str()));
        if (pid <= 0 || startTime(pid) != name.substr(dash + 1, second - dash - 1))
            unlinkat(folder_, name.c_str(), 0);
    }
    closedir(listing);
}
