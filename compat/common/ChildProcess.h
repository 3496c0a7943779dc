#pragma once

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

// A child of the compat programs, started and ended in one place. It starts with an empty signal
// mask and default dispositions, whatever its parent blocks or ignores (the adapter blocks the
// signals it reads through a signalfd, and a child that inherited that could not be stopped), and
// in a process group of its own where asked, so that what it starts ends with it. It is ended by
// one policy: TERM, then KILL once `killAfter` has passed, so that nothing waits on a child that
// ignores TERM or hangs on it.
class ChildProcess
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds killAfter{2000};
    static constexpr std::chrono::milliseconds forever{-1};

    struct Setup
    {
        int input = -1; // descriptors for its standard streams; -1: /dev/null
        int output = -1;
        int errors = -1;
        bool ownGroup = false;
        char** environment = nullptr; // nullptr: ours
    };

    ChildProcess() = default;
    // A child still running is ended and reaped first.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // `arguments[0]` is the program's absolute path. False, with errno set, when it could not
    // be started.
    bool start(const std::vector<std::string>& arguments, const Setup& setup);
    bool start(const std::vector<std::string>& arguments) { return start(arguments, Setup()); }

    pid_t pid() const { return pid_; }
    // Readable once the child has ended, for a poll loop; -1 when there is none to wait for.
    int fd() const { return pidfd_; }
    // Reaps the child when it has ended, without waiting: its wait status once reaped.
    const std::optional<int>& reap();
    const std::optional<int>& status() const { return status_; }
    bool running() const { return pid_ > 0 && !status_; }

    // `signal` to the child (its group, when it has one of its own), only until it is reaped:
    // after that its PID may be another process's.
    void signal(int signal);
    // Asks it to end with `first` (TERM, or a signal passed on), and arms the KILL.
    void stop(int first = SIGTERM);
    // Milliseconds until the armed KILL is due (0: now), or -1 when none is armed; for a poll
    // loop, which then calls `due()`.
    int timeout() const;
    void due();

    // Waits up to `limit` for the child's end, then stops it and waits for that: its wait status
    // (or nothing, when there was no child).
    std::optional<int> wait(std::chrono::milliseconds limit = forever);

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool group_ = false;
    std::optional<int> status_;
    std::optional<Clock::time_point> killAt_;
};
