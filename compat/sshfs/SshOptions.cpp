#include "SshOptions.h"

#include <sys/mman.h>
#include <unistd.h>

std::string SshOptions::configFile(const std::string& userConfig)
{
    // Include expands ~ and wildcards, and reads quotes and backslashes.
    if (userConfig.find_first_of("\"\\*?[") != std::string::npos || userConfig.starts_with('~'))
        return userConfig;
    std::string text = userConfig.empty() ? "Include ~/.ssh/config\nInclude /etc/ssh/ssh_config\n"
                                          : "Include \"" + userConfig + "\"\n";
    text += "Host *\n    ConnectTimeout 10\n    ServerAliveInterval 5\n"
            "    LogVerbose sshconnect2.c:ssh_userauth2():*\n";
    // Never closed: the client's ssh reads it again at every reconnect.
    const int fd = memfd_create("ssh_config", MFD_CLOEXEC);
    if (fd < 0 || write(fd, text.data(), text.size()) != ssize_t(text.size())) {
        if (fd >= 0)
            close(fd);
        return userConfig;
    }
    return "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(fd);
}
