#include "SshLogins.h"

#include "AskpassFolder.h"
#include "ProcessGroup.h"

#include <charconv>

bool SshLogins::take(std::string_view line, pid_t group) const
{
    const pid_t ssh = loggedIn(line);
    if (ssh <= 0)
        return false;
    if (group > 0 && ProcessGroup::groupOf(ssh) == group)
        AskpassFolder(runtimeFolder_, false).noteLoggedIn(ssh);
    return true;
}

pid_t SshLogins::loggedIn(std::string_view line)
{
    // The tag ssh puts before a line it was told to log, "FILE:FUNCTION():LINE (pid=PID): ", or
    // "(bin=PROGRAM, pid=PID)" in newer releases; then the message, with whatever host name.
    constexpr std::string_view tag = "sshconnect2.c:ssh_userauth2():", end = "): Authenticated to ";
    const std::size_t close = line.find(end);
    const std::size_t pid = line.rfind("pid=", close);
    if (!line.starts_with(tag) || close == line.npos || pid == line.npos || pid <= tag.size() ||
        (line[pid - 1] != '(' && line[pid - 1] != ' '))
        return 0;
    pid_t value = 0;
    const char* last = line.data() + close;
    const auto [next, error] = std::from_chars(line.data() + pid + 4, last, value);
    return error == std::errc() && next == last ? value : 0;
}
