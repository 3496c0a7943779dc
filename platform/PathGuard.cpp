#include "platform/PathGuard.h"

#include <algorithm>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNoWait = AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;

// Like `mkdir -p`, following links: the root may lie behind the link a user made.
void makeFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0777);
    ::mkdir(path.c_str(), 0777);
}

} // namespace

std::optional<std::vector<std::string>> PathGuard::split(std::string_view relative)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view part = relative.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find('\0') != part.npos)
            return std::nullopt;
        parts.emplace_back(part);
        if (end == relative.size())
            return parts;
        start = end + 1;
    }
}

int PathGuard::openParent(const std::string& root, const std::vector<std::string>& parts,
                          bool create)
{
    if (parts.empty() || root.empty())
        return -1;
    if (create)
        makeFolders(root);
    int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t i = 0; fd >= 0 && i + 1 < parts.size(); ++i) {
        const char* name = parts[i].c_str();
        if (create)
            ::mkdirat(fd, name, 0777);
        // Opened first and checked on the descriptor: a mount that appears meanwhile is seen.
        const int next = ::openat(fd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (fd >= 0 && isMountRoot(fd, "", AT_EMPTY_PATH)) {
            ::close(fd);
            fd = -1;
        }
    }
    return fd;
}

bool PathGuard::isMountRoot(int dirfd, const char* name, int flags)
{
    struct statx info = {};
    return ::statx(dirfd, name, flags | kNoWait, 0, &info) == 0 && isMountRoot(info);
}

bool PathGuard::isMountRoot(const struct statx& info)
{
    return (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (info.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

std::string PathGuard::pathOf(int fd)
{
    char path[PATH_MAX];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return n > 0 && std::size_t(n) < sizeof path ? std::string(path, std::size_t(n))
                                                 : std::string();
}
