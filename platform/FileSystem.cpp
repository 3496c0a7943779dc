#include "platform/FileSystem.h"

#include "platform/PathGuard.h"

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

// Opens a directory for removal of its contents, refusing symbolic links and mount roots. The
// mount check is made on the opened descriptor, so a mount that appears meanwhile is not entered.
int openPlainDirectory(int dirfd, const char* name)
{
    const int fd = ::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0 && PathGuard::isMountRoot(fd, "", AT_EMPTY_PATH)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes `name` in `dirfd`: a file or link at once, a directory with what it holds, but never a
// mount root nor anything below one.
void removeAt(int dirfd, const char* name)
{
    struct statx info = {};
    if (::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | kNoWait, STATX_TYPE, &info) != 0 ||
        PathGuard::isMountRoot(info))
        return;
    if (!S_ISDIR(info.stx_mode)) {
        ::unlinkat(dirfd, name, 0);
        return;
    }
    const int fd = openPlainDirectory(dirfd, name);
    if (fd < 0)
        return;
    const int listing = ::dup(fd);
    if (DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing)) {
        while (const dirent* entry = ::readdir(dir)) {
            if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
                removeAt(fd, entry->d_name);
        }
        ::closedir(dir);
    } else if (listing >= 0) {
        ::close(listing);
    }
    ::close(fd);
    ::unlinkat(dirfd, name, AT_REMOVEDIR);
}

// The folder that holds `relative` below `root`, or -1 when the way there is not safe.
int openParent(const QString& root, const QString& relative, bool create, std::string& last)
{
    const QByteArray base = encode(root);
    const auto parts = PathGuard::split(encode(relative).toStdString());
    if (base.isNull() || !parts)
        return -1;
    last = parts->back();
    return PathGuard::openParent(base.toStdString(), *parts, create);
}

} // namespace

bool FileSystem::isMountRoot(const QString& path)
{
    return isMountRoot(encode(path));
}

QByteArray FileSystem::placeBelow(const QString& root, const QString& relative)
{
    if (root.isEmpty() || !PathGuard::split(encode(relative).toStdString()))
        return {};
    return encode(root + u'/' + relative);
}

bool FileSystem::isMountRoot(const QByteArray& encodedPath)
{
    return !encodedPath.isNull() && PathGuard::isMountRoot(AT_FDCWD, encodedPath.constData(), 0);
}

void FileSystem::createDirectoryBelow(const QString& root, const QString& relative)
{
    std::string last;
    const int parent = openParent(root, relative, true, last);
    if (parent < 0)
        return;
    ::mkdirat(parent, last.c_str(), 0777);
    ::close(parent);
}

void FileSystem::removeItemBelow(const QString& root, const QString& relative)
{
    std::string last;
    const int parent = openParent(root, relative, false, last);
    if (parent < 0)
        return;
    removeAt(parent, last.c_str());
    ::close(parent);
}

bool FileSystem::exists(const QString& path)
{
    const QByteArray name = encode(path);
    struct statx info = {};
    return !name.isNull() &&
           ::statx(AT_FDCWD, name.constData(), AT_SYMLINK_NOFOLLOW | kNoWait, 0, &info) == 0;
}
