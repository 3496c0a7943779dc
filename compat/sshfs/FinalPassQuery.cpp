#include "FinalPassQuery.h"

#include "ChildProcess.h"
#include "PollTimeout.h"

#include <csignal>
#include <string_view>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// ssh's line for the final pass. Names in other lines could hold a newline and this very text,
// but such a line can only choose the way that is safe for the user's values.
constexpr std::string_view reparsing = "debug1: re-parsing configuration\r\n";

} // namespace

bool FinalPassQuery::makesOne(const std::string& config, const std::vector<std::string>& target)
{
    std::vector<std::string> arguments = {"/usr/bin/ssh", "-G", "-v", "-F", config};
    arguments.insert(arguments.end(), target.begin(), target.end());
    int errors[2];
    if (pipe2(errors, O_CLOEXEC) != 0)
        return true;
    // A group of its own, which ends with it: what a `Match exec` started too.
    ChildProcess ssh;
    const bool started = ssh.start(arguments, {.errors = errors[1], .ownGroup = true});
    close(errors[1]);
    const auto deadline = ChildProcess::Clock::now() + bound;
    std::string text;
    char buffer[4096];
    pollfd fd = {errors[0], POLLIN, 0};
    for (ssize_t n = started ? 1 : 0; n > 0 && text.find(reparsing) == text.npos;) {
        n = poll(&fd, 1, PollTimeout::until(deadline)) > 0 ? read(errors[0], buffer, sizeof buffer)
                                                           : -1;
        if (n > 0)
            text.append(buffer, std::size_t(n));
    }
    close(errors[0]);
    const bool reparses = text.find(reparsing) != text.npos;
    // Once it has told, or past the bound, it is killed at once: it holds nothing to lose.
    if (reparses || PollTimeout::until(deadline) == 0)
        ssh.signal(SIGKILL);
    const std::optional<int> status =
        ssh.wait(std::chrono::milliseconds(PollTimeout::until(deadline)));
    return reparses || !status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0;
}
