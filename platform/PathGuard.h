#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/stat.h>

// The way from a root folder down to an item below it, walked one part at a time so that it can
// never lead elsewhere: no part may be empty, "." or "..", and every folder on the way (the root
// itself excepted, which may be a link) must be a real folder, not a symbolic link and not the
// root of a mounted volume. Plain POSIX: the compat programs use it too.
class PathGuard
{
public:
    // The parts of `relative`, cut at "/"; none when a part is empty, "." or "..".
    static std::optional<std::vector<std::string>> split(std::string_view relative);

    // A descriptor (O_PATH) of the folder that holds the last of `parts`, or -1. With `create`,
    // the root is made with its missing parents and every missing folder on the way is made.
    static int openParent(const std::string& root, const std::vector<std::string>& parts,
                          bool create);

    // Whether `name` in `dirfd` (with AT_EMPTY_PATH: `dirfd` itself) is the root of a mounted
    // file system. Never waits on the file system behind a mount.
    static bool isMountRoot(int dirfd, const char* name, int flags);
    // The same from what statx answered.
    static bool isMountRoot(const struct statx& info);

    // The path of an open descriptor, as the kernel knows it (links resolved).
    static std::string pathOf(int fd);
};
