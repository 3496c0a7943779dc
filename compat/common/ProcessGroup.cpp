#include "ProcessGroup.h"

#include "ProcessStat.h"

#include <climits>
#include <cstdlib>
#include <fstream>

#include <dirent.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

ProcessGroup::ProcessGroup(pid_t group, pid_t except)
{
    if (group <= 0)
        return;
    forEachProcess([&](pid_t pid) {
        const auto inGroup = [&] {
            return groupOf(pid) == group;
        };
        if (pid == except || !inGroup())
            return true;
        if (const int pidfd = hold(pid, inGroup); pidfd >= 0)
            members_.push_back({pid, pidfd, nameOf(pid)});
        return true;
    });
}

ProcessGroup::~ProcessGroup()
{
    for (const Member& member : members_)
        close(member.pidfd);
}

pid_t ProcessGroup::groupOf(pid_t pid)
{
    return static_cast<pid_t>(std::atoi(ProcessStat::field(pid, 5).c_str()));
}

std::string ProcessGroup::nameOf(pid_t pid)
{
    std::string name;
    std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
    return name;
}

std::vector<std::string> ProcessGroup::openFiles(pid_t pid)
{
    std::vector<std::string> result;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* dir = opendir(folder.c_str());
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        char target[PATH_MAX];
        const ssize_t n = readlinkat(dirfd(dir), entry->d_name, target, sizeof target);
        if (n > 0)
            result.emplace_back(target, std::size_t(n));
    }
    if (dir)
        closedir(dir);
    return result;
}

void ProcessGroup::forEachProcess(const std::function<bool(pid_t)>& visit)
{
    DIR* dir = opendir("/proc");
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid > 0 && !visit(pid))
            break;
    }
    if (dir)
        closedir(dir);
}

int ProcessGroup::hold(pid_t pid, const std::function<bool()>& still)
{
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0 && !still()) {
        close(pidfd);
        return -1;
    }
    return pidfd;
}

bool ProcessGroup::alive(int pidfd)
{
    pollfd fd = {pidfd, POLLIN, 0};
    return pidfd >= 0 && poll(&fd, 1, 0) == 0;
}

void ProcessGroup::signal(int pidfd, int signal)
{
    syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0);
}
