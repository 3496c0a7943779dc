#include "LazyUnmount.h"

#include "ChildProcess.h"

#include <vector>

#include <sys/wait.h>

namespace {

// The tools detach at once; a bound all the same, as a verdict waits on it.
constexpr std::chrono::seconds timeLimit{5};

} // namespace

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
    ChildProcess child;
    if (!child.start(arguments))
        return -1;
    const std::optional<int> status = child.wait(timeLimit);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}
