#include "SshOptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Long enough for any ssh -G that only reads files; a `Match exec` or a slow canonicalisation
// could take for ever, and the mount must not wait on it.
constexpr int timeLimitMilliseconds = 4000;

// The standard output of ssh -G; empty when it cannot say (ssh then fails on its own anyway),
// nothing when it ran out of time.
std::optional<std::string> effectiveSettings(const std::string& host, const std::string& configFile)
{
    std::vector<std::string> arguments = {"ssh", "-G"};
    if (!configFile.empty())
        arguments.insert(arguments.end(), {"-F", configFile});
    arguments.insert(arguments.end(), {"--", host});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return std::string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Signals as a program expects them, whatever the adapter blocks; its own process group, so
    // that what a `Match exec` started ends with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                              POSIX_SPAWN_SETPGROUP);
    pid_t pid;
    const bool started =
        posix_spawn(&pid, "/usr/bin/ssh", &actions, &attributes, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    std::string text;
    char buffer[4096];
    bool timedOut = false;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMilliseconds);
    while (started) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd = {out[0], POLLIN, 0};
        const int ready =
            poll(&fd, 1, int(std::max<std::chrono::milliseconds::rep>(0, left.count())));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0) {
            timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, std::size_t(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(out[0]);
    int status = 0;
    while (started && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return std::nullopt;
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
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
    bool connectTimeout = false, serverAlive = false;
    std::istringstream lines(settings);
    for (std::string key, value; lines >> key && std::getline(lines >> std::ws, value);) {
        if (key == "connecttimeout")
            connectTimeout = value != "none";
        else if (key == "serveraliveinterval")
            serverAlive = value != "0";
    }
    std::vector<std::string> options = {"-o", "reconnect"};
    if (!connectTimeout)
        options.insert(options.end(), {"-o", "ConnectTimeout=10"});
    if (!serverAlive)
        options.insert(options.end(),
                       {"-o", "ServerAliveInterval=15", "-o", "ServerAliveCountMax=3"});
    return options;
}
