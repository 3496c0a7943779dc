#include "PrivateFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Closes `fd` unless it is a folder of ours alone.
int keepIfPrivate(int fd)
{
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && !(st.st_mode & 077))
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

constexpr int folderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

int PrivateFolder::open(const std::string& runtimeFolder, const std::string& name, bool make)
{
    if (!runtimeFolder.starts_with('/'))
        return -1;
    const int parent = keepIfPrivate(::open(runtimeFolder.c_str(), folderFlags));
    if (parent < 0)
        return -1;
    if (make)
        mkdirat(parent, name.c_str(), 0700);
    const int folder = keepIfPrivate(openat(parent, name.c_str(), folderFlags));
    close(parent);
    return folder;
}
