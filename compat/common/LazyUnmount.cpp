#include "LazyUnmount.h"

#include <cerrno>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

const char* LazyUnmount::tool(const std::string& type)
{
    return type == "fuse" || type.starts_with("fuse.") ? "/usr/bin/fusermount3" : "/usr/bin/umount";
}

int LazyUnmount::run(const std::string& path, const std::string& type)
{
    const std::string program = tool(type);
    const bool fuse = program.ends_with("fusermount3");
    std::vector<std::string> arguments = {program, fuse ? "-u" : "-l"};
    if (fuse)
        arguments.push_back("-z");
    arguments.insert(arguments.end(), {"--", path});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
