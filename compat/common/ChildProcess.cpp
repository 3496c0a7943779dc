#include "ChildProcess.h"

#include "PollTimeout.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ChildProcess::~ChildProcess()
{
    if (running())
        wait(std::chrono::milliseconds(0));
    if (pidfd_ >= 0)
        close(pidfd_);
}

bool ChildProcess::start(const std::vector<std::string>& arguments, const Setup& setup)
{
    // An ignored SIGCHLD, inherited from whoever started us, would have the kernel reap our
    // children before their status could be read.
    struct sigaction current = {};
    if (sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
        ::signal(SIGCHLD, SIG_DFL);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int streams[] = {setup.input, setup.output, setup.errors};
    for (int target = 0; target < 3; ++target) {
        if (streams[target] < 0)
            posix_spawn_file_actions_addopen(&actions, target, "/dev/null",
                                             target == 0 ? O_RDONLY : O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, streams[target], target);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (setup.ownGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        flags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, flags);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(),
                                  setup.environment ? setup.environment : environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        pid_ = -1;
        errno = error;
        return false;
    }
    group_ = setup.ownGroup;
    // Not yet reaped, so the PID is still the child's. Without a pidfd, wait() falls back to
    // waitpid alone.
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    return true;
}

const std::optional<int>& ChildProcess::reap()
{
    int status = 0;
    if (running() && waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        killAt_.reset();
        if (pidfd_ >= 0)
            close(std::exchange(pidfd_, -1));
    }
    return status_;
}

void ChildProcess::signal(int signal)
{
    if (running())
        kill(group_ ? -pid_ : pid_, signal);
}

void ChildProcess::stop(int first)
{
    signal(first);
    if (running() && !killAt_)
        killAt_ = Clock::now() + killAfter;
}

int ChildProcess::timeout() const
{
    return PollTimeout::until(killAt_);
}

void ChildProcess::due()
{
    if (killAt_ && Clock::now() >= *killAt_) {
        signal(SIGKILL);
        killAt_.reset();
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit)
{
    const auto waitFor = [this](int milliseconds) {
        const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (!reap() && running()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
            if (milliseconds >= 0 && left.count() <= 0)
                return;
            pollfd fd = {pidfd_, POLLIN, 0};
            if (pidfd_ < 0) { // no pidfd: a short sleep between looks
                usleep(10000);
                continue;
            }
            poll(&fd, 1, milliseconds < 0 ? -1 : int(left.count()));
        }
    };
    waitFor(int(limit.count()));
    if (running()) {
        stop();
        waitFor(int(killAfter.count()));
        signal(SIGKILL);
        waitFor(-1);
    }
    return status_;
}
