#include "LinkCheck.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

pid_t parentOf(pid_t pid)
{
    // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream rest(text.substr(std::min(text.rfind(')'), text.size()) + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent;
}

// The children of `parent`. (/proc/PID/task/TID/children is not in every kernel.)
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> result;
    DIR* dir = opendir("/proc");
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid > 0 && parentOf(pid) == parent)
            result.push_back(pid);
    }
    if (dir)
        closedir(dir);
    return result;
}

// KILL through a pidfd, once the PID is known still to be a child of `client`.
void endChildrenOf(pid_t client)
{
    for (const pid_t pid : childrenOf(client)) {
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (pidfd < 0)
            continue;
        if (parentOf(pid) == client)
            syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        close(pidfd);
    }
}

} // namespace

void LinkCheck::start(const std::string& target, unsigned long mountId)
{
    if (asking_)
        return;
    asking_ = true;
    deadline_ = Clock::now() + bound;
    probe_.start(target, mountId);
}

int LinkCheck::timeout() const
{
    if (!deadline_)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline_ - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

void LinkCheck::takeAnswer()
{
    // Any answer will do, a failure too: sshfs has then noticed the loss itself.
    if (probe_.take()) {
        asking_ = false;
        deadline_.reset();
    }
}

bool LinkCheck::expired(pid_t client)
{
    if (!deadline_ || Clock::now() < *deadline_)
        return false;
    // The probe stays asked until the ended transport fails it; no new check before.
    deadline_.reset();
    endChildrenOf(client);
    return true;
}
