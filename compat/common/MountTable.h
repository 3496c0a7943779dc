#pragma once

#include <string>
#include <string_view>
#include <vector>

// The mount table of this process's mount namespace, from /proc/self/mountinfo. Reading it never
// touches a mounted file system, so it answers even when a FUSE daemon has stopped.
class MountTable
{
public:
    struct Entry
    {
        unsigned long id = 0;
        unsigned minor = 0;     // of the device: names a FUSE connection in fusectl
        std::string mountPoint; // unescaped
        std::string type;       // e.g. "fuse.sshfs", "tmpfs"
    };

    // Reads the whole table from an open mountinfo file, from its start; false on a read error.
    bool read(int fd);
    // Opens, reads and closes /proc/self/mountinfo.
    bool readSelf();
    void parse(std::string_view text);

    // Whether the mount `id` is still in the table.
    bool contains(unsigned long id) const;
    // The mounts on `path` (compared as text, so `path` must be absolute and normalised), in the
    // order they were stacked: the last one is on top.
    std::vector<Entry> at(std::string_view path) const;

    // mountinfo writes blank, tab, line feed and backslash as \040, \011, \012 and \134.
    static std::string unescape(std::string_view field);
    // "/a//b/./c/../d/" -> "/a/b/d", without asking the file system (which may hang).
    static std::string normalise(std::string_view absolutePath);

private:
    std::vector<Entry> entries_;
};
