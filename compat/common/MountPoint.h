#pragma once

#include <string>

// A mount point given on a command line, as the mount table shows it: its folder resolved (links
// followed) and its last part appended, so that the mount point itself is never looked up (a
// volume whose server has stopped would hang the lookup). "/Users/<login>" is usually a link to
// the home, and the table holds the resolved path.
class MountPoint
{
public:
    // "/Users/<login>": the application's paths are built from it, never from $HOME.
    static std::string userFolder();

    // The resolved path, or an empty one with `why` set. The application's mount points, below
    // "/Users/<login>/Volumes/", must keep to the rule of PathGuard: no "." or ".." in the host
    // name, and no symbolic link nor mounted volume on the way down from "Volumes".
    static std::string resolve(const std::string& given, std::string& why);
};
