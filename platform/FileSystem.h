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
    // The path of `relative` below `root`, encoded for the kernel; null when `relative` has an
    // empty, "." or ".." part: such a path is no place of its own below the root.
    static QByteArray placeBelow(const QString& root, const QString& relative);
    // isMountRoot() for a path placeBelow() gave; false for a null one.
    static bool isMountRoot(const QByteArray& encodedPath);
    // Creates the directory `relative` below `root`, with its missing parents (the root's too).
    // Does nothing unless the way down is safe (see PathGuard).
    static void createDirectoryBelow(const QString& root, const QString& relative);
    // Removes the item `relative` below `root`, a directory with everything in it, without
    // following symbolic links and without ever entering a mounted file system: a mount root, at
    // the item or below it, is left where it is, together with the directories that lead to it.
    // Does nothing unless the way down is safe (see PathGuard).
    static void removeItemBelow(const QString& root, const QString& relative);
    // Whether anything, even a dangling symbolic link, stands at `path`.
    static bool exists(const QString& path);
};
