#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

// The processes of one process group, each held by a pidfd once it is known to be in the group:
// a signal through the pidfd can never reach a process that later took the same PID. The sshfs
// client leads a group of its own, and Debian's sshfs starts its ssh through a double fork, so
// the ssh is no child of the client's but stays in its group.
class ProcessGroup
{
public:
    struct Member
    {
        pid_t pid = 0;
        int pidfd = -1;
        std::string name; // the command name, as the kernel keeps it (15 bytes at most)
    };

    // The members of `group` but the one `except`.
    ProcessGroup(pid_t group, pid_t except);
    ~ProcessGroup();
    ProcessGroup(const ProcessGroup&) = delete;
    ProcessGroup& operator=(const ProcessGroup&) = delete;

    const std::vector<Member>& members() const { return members_; }

    // The process group of `pid`, or 0 when it is gone.
    static pid_t groupOf(pid_t pid);
    // Its command name, as the kernel keeps it (15 bytes at most).
    static std::string nameOf(pid_t pid);
    // What its open descriptors lead to, as /proc names it ("socket:[123]", "pipe:[456]", a
    // path); nothing for another user's process.
    static std::vector<std::string> openFiles(pid_t pid);
    // Calls `visit` with the PID of each process on the machine until it returns false.
    static void forEachProcess(const std::function<bool(pid_t)>& visit);
    // A pidfd of `pid` when `still()` holds once it is held (the PID may have been another
    // process's in between); else -1.
    static int hold(pid_t pid, const std::function<bool()>& still);
    // A process held by `pidfd` that has not ended.
    static bool alive(int pidfd);
    static void signal(int pidfd, int signal);

private:
    std::vector<Member> members_;
};
