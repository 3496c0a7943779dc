#pragma once

#include <QString>

// The file-system operations the mount points need. None of them reports errors: a failure is
// dropped where it happens.
class FileSystem
{
public:
    // True when `path` exists and is the root of a mounted file system. Never waits on the file
    // system behind a mount, so it answers at once even when a FUSE daemon has stopped.
    static bool isMountRoot(const QString& path);
    // Creates the directory with its missing parents.
    static void createDirectory(const QString& path);
    // Removes the item at `path`, a directory with everything in it, without following symbolic
    // links and without ever entering a mounted file system: a mount root, at `path` or below it,
    // is left where it is, together with the directories that lead to it.
    static void removeItem(const QString& path);
    // Whether anything, even a dangling symbolic link, stands at `path`.
    static bool exists(const QString& path);
};
