#pragma once

#include <string>

// Takes the volume on top of a mount point off at once, also a busy one or one whose FUSE daemon
// has gone: `fusermount3 -u -z` for FUSE (which lets a user detach their own volumes), `umount -l`
// otherwise. The path is handed to the tool as it is: pass it resolved.
class LazyUnmount
{
public:
    // The tool for a mount of this type, as named in the mount table.
    static const char* tool(const std::string& type);
    // The tool's exit status, or -1 when it could not run.
    static int run(const std::string& path, const std::string& type);
};
