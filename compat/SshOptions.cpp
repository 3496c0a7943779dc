#include "SshOptions.h"

#include <cerrno>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The standard output of ssh -G; empty when it cannot say (ssh then fails on its own anyway).
std::string effectiveSettings(const std::string& host, const std::string& configFile)
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
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    const bool started =
        posix_spawn(&pid, "/usr/bin/ssh", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[4096];
    while (started) {
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
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : std::string();
}

} // namespace

std::vector<std::string> SshOptions::forHost(const std::string& host,
                                             const std::string& configFile)
{
    return fromEffective(effectiveSettings(host, configFile));
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
