#include "FuseConnection.h"

#include <fcntl.h>
#include <unistd.h>

bool FuseConnection::abort(unsigned minor, const std::string& connections)
{
    const std::string file = connections + "/" + std::to_string(minor) + "/abort";
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    const bool done = fd >= 0 && write(fd, "1", 1) == 1;
    if (fd >= 0)
        close(fd);
    return done;
}
