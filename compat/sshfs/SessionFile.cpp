#include "SessionFile.h"

#include "PrivateFolder.h"

#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char folderName[] = "tollvane-sshfs";

// FNV-1a: only the user's own adapters write in the folder, and a name already taken is read
// back before it is used, so the digest only has to keep different texts apart by chance.
std::string digest(const std::string& text)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const unsigned char c : text)
        hash = (hash ^ c) * 0x100000001b3u;
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// Whether `name` holds exactly `text`.
bool holds(int folder, const std::string& name, const std::string& text)
{
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string found(text.size() + 1, '\0');
    const ssize_t n = read(fd, found.data(), found.size());
    close(fd);
    return n == ssize_t(text.size()) && found.compare(0, text.size(), text) == 0;
}

} // namespace

std::string SessionFile::store(const std::string& text) const
{
    const int folder = PrivateFolder::open(runtimeFolder_, folderName);
    if (folder < 0)
        return {};
    const std::string name = digest(text);
    bool stored = holds(folder, name, text);
    if (!stored && faccessat(folder, name.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) != 0) {
        // Written whole under a name of its own first: ssh never reads part of it.
        const std::string temporary = name + '.' + std::to_string(getpid());
        const int fd = openat(folder, temporary.c_str(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        stored = fd >= 0 && fchmod(fd, 0600) == 0 &&
                 write(fd, text.data(), text.size()) == ssize_t(text.size());
        if (fd >= 0)
            close(fd);
        stored = stored && renameat(folder, temporary.c_str(), folder, name.c_str()) == 0;
        if (!stored)
            unlinkat(folder, temporary.c_str(), 0);
    }
    close(folder);
    return stored ? runtimeFolder_ + '/' + folderName + '/' + name : std::string();
}
