#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>

// The logins of the client's ssh processes, which ssh reports on its standard error when told to
// (SshOptions' LogVerbose): each tells the askpass that the stored answers it gave that ssh were
// accepted (see AskpassFolder). Only an ssh of the client's own process group counts, as the
// rest of the line is the server's and the host's to shape.
class SshLogins
{
public:
    // $XDG_RUNTIME_DIR, where the askpass keeps its notes; nothing is noted without it.
    explicit SshLogins(const char* runtimeFolder)
        : runtimeFolder_(runtimeFolder ? runtimeFolder : "")
    {}

    // Whether `line` is such a report, which is ssh's and no one else's to read; one from an ssh
    // in process group `group` is noted.
    bool take(std::string_view line, pid_t group) const;

    // The ssh process that `line` reports as logged in; 0 when it is no such report.
    static pid_t loggedIn(std::string_view line);

private:
    std::string runtimeFolder_;
};
