#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kNoWait = AT_STATX_DONT_SYNC | AT_NO_AUTOMOUNT;

// Encoded for the kernel; null when the text cannot name a file (a NUL would cut it short).
QByteArray encode(const QString& path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return {};
    return QFile::encodeName(path);
}

bool hasMountRootAttribute(const struct statx& info)
{
    return (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) &&
           (info.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

bool isMountRootAt(int dirfd, const char* name, int flags)
{
    struct statx info = {};
    return ::statx(dirfd, name, flags | kNoWait, 0, &info) == 0 && hasMountRootAttribute(info);
}

// Opens a directory for removal of its contents, refusing symbolic links and mount roots. The
// mount check is made on the opened descriptor, so a mount that appears meanwhile is not entered.
int openPlainDirectory(int dirfd, const char* name)
{
    const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && isMountRootAt(fd, "", AT_EMPTY_PATH)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void removeContents(int dirfd)
{
    const int listing = ::dup(dirfd);
    if (listing < 0)
        return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        struct statx info = {};
        if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | kNoWait, STATX_TYPE, &info) != 0 ||
            hasMountRootAttribute(info))
            continue;
        if (S_ISDIR(info.stx_mode)) {
            const int child = openPlainDirectory(dirfd, name);
            if (child < 0)
                continue;
            removeContents(child);
            ::close(child);
            ::unlinkat(dirfd, name, AT_REMOVEDIR);
        } else {
            ::unlinkat(dirfd, name, 0);
        }
    }
    ::closedir(dir);
}

} // namespace

bool FileSystem::isMountRoot(const QString& path)
{
    const QByteArray name = encode(path);
    return !name.isNull() && isMountRootAt(AT_FDCWD, name.constData(), 0);
}

void FileSystem::createDirectory(const QString& path)
{
    if (!encode(path).isNull())
        QDir().mkpath(path);
}

void FileSystem::removeItem(const QString& path)
{
    const QByteArray name = encode(path);
    if (name.isNull())
        return;
    struct statx info = {};
    if (::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW | kNoWait, STATX_TYPE, &info) !=
            0 ||
        hasMountRootAttribute(info))
        return;
    if (!S_ISDIR(info.stx_mode)) {
        ::unlink(name.constData());
        return;
    }
    const int fd = openPlainDirectory(AT_FDCWD, name.constData());
    if (fd < 0)
        return;
    removeContents(fd);
    ::close(fd);
    ::rmdir(name.constData());
}

bool FileSystem::exists(const QString& path)
{
    const QByteArray name = encode(path);
    struct statx info = {};
    return !name.isNull() &&
           ::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW | kNoWait, 0, &info) == 0;
}
