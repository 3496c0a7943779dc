#include "LinkCheck.h"

#include "PollTimeout.h"
#include "ProcessStat.h"

#include <cstdlib>

#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The process group of `pid`, or 0.
pid_t groupOf(pid_t pid)
{
    return static_cast<pid_t>(std::atoi(ProcessStat::field(pid, 5).c_str()));
}

// Debian's sshfs starts its ssh through a double fork, so the ssh is no child of the client's;
// but it stays in the client's process group. Each is held by a pidfd, and ended once it is
// known still to be in that group.
void endTransportOf(pid_t client)
{
    DIR* dir = opendir("/proc");
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0 || pid == client || groupOf(pid) != client)
            continue;
        const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
        if (pidfd >= 0 && groupOf(pid) == client)
            syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0);
        if (pidfd >= 0)
            close(pidfd);
    }
    if (dir)
        closedir(dir);
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
    return PollTimeout::until(deadline_);
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
    endTransportOf(client);
    return true;
}
