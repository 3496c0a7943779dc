#pragma once

#include <string>

// A FUSE volume's connection to its daemon, as fusectl shows it (a folder named after the
// device's minor number, owned by the user who mounted it). Aborting it fails every request that
// waits on the volume at once, and every later one, whatever the daemon does: nothing can then
// hold a process that reads the volume, which a freeze before a sleep needs.
class FuseConnection
{
public:
    // False when fusectl or the connection is not there.
    static bool abort(unsigned minor, const std::string& connections = "/sys/fs/fuse/connections");
};
