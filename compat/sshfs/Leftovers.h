#pragma once

#include "ChildProcess.h"

#include <optional>
#include <vector>

// What of a client outlives it, ended once the client has ended: every process started for the
// volume that still holds the pipe its standard error went to (a kernel object, which no other
// process can come to hold as a PID can be reused). That is the rest of the client's process group
// (a reconnect's ssh still waiting on its askpass when the volume was unmounted) and an ssh master
// that the client's ssh made through the user's ControlMaster and ControlPersist, which lives in a
// session of its own. A master that something else still goes through (the user's own ssh sessions)
// is left alone. TERM, then KILL once ChildProcess::killAfter has passed.
class Leftovers
{
public:
    Leftovers() = default;
    ~Leftovers();
    Leftovers(const Leftovers&) = delete;
    Leftovers& operator=(const Leftovers&) = delete;

    // The client has ended and been reaped; `pipe` is the inode of the pipe its standard error
    // went to.
    void start(unsigned long pipe);
    // For poll: milliseconds until due() has something to do, or -1.
    int timeout() const;
    void due();
    // Nothing left to end, or nothing more to wait for.
    bool done() const { return !killAt_; }

private:
    void close();

    std::vector<int> ending_;                  // pidfds of what was asked to end
    std::vector<std::pair<pid_t, int>> inUse_; // masters something else goes through, with pidfds
    std::optional<ChildProcess::Clock::time_point> killAt_;
};
