#include "SshOptions.h"

#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any ssh -G that only reads files; a `Match exec` or a slow canonicalisation
// could take for ever, and the mount must not wait on it.
constexpr std::chrono::milliseconds timeLimit{4000};

// The standard output of ssh -G; empty when it cannot say (ssh then fails on its own anyway),
// nothing when it ran out of time.
std::optional<std::string> effectiveSettings(const std::string& host, const std::string& configFile)
{
    std::vector<std::string> arguments = {"/usr/bin/ssh", "-G"};
    if (!configFile.empty())
        arguments.insert(arguments.end(), {"-F", configFile});
    arguments.insert(arguments.end(), {"--", host});
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return std::string();
    // In a group of its own, so that what a `Match exec` started ends with it.
    ChildProcess ssh;
    const bool started = ssh.start(arguments, {.output = out[1], .ownGroup = true});
    close(out[1]);
    std::string text;
    char buffer[4096];
    const auto deadline = Clock::now() + timeLimit;
    const auto left = [&] {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()));
    };
    bool timedOut = false;
    while (started) {
        pollfd fd = {out[0], POLLIN, 0};
        const int ready = poll(&fd, 1, int(left().count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, std::size_t(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(out[0]);
    const std::optional<int> status = ssh.wait(left());
    if (timedOut)
        return std::nullopt;
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0 ? text : std::string();
}

} // namespace

std::vector<std::string> SshOptions::forHost(const std::string& host, const std::string& configFile)
{
    const std::optional<std::string> settings = effectiveSettings(host, configFile);
    return settings ? fromEffective(*settings) : std::vector<std::string>();
}

std::vector<std::string> SshOptions::fromEffective(const std::string& settings)
{
    // ssh -G prints every setting, lower-cased: "connecttimeout none" and
    // "serveraliveinterval 0" when nobody set them.
    // As in ssh's configuration, the first value given counts.
    std::optional<bool> connectTimeout, serverAlive;
    std::istringstream lines(settings);
    for (std::string key, value; lines >> key && std::getline(lines >> std::ws, value);) {
        if (key == "connecttimeout" && !connectTimeout)
            connectTimeout = value != "none";
        else if (key == "serveraliveinterval" && !serverAlive)
            serverAlive = value != "0";
    }
    std::vector<std::string> options = {"-o", "reconnect"};
    if (!connectTimeout.value_or(false))
        options.insert(options.end(), {"-o", "ConnectTimeout=10"});
    // With ssh's ServerAliveCountMax of 3 (or the user's own), a dead link is noticed in 15 s.
    if (!serverAlive.value_or(false))
        options.insert(options.end(), {"-o", "ServerAliveInterval=5"});
    return options;
}
