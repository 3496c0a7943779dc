#include "Leftovers.h"

#include "PollTimeout.h"
#include "ProcessGroup.h"
#include "SocketTable.h"

#include <algorithm>
#include <string>

#include <signal.h>
#include <unistd.h>

namespace {

// How often what was asked to end, and the masters in use, are looked at again.
constexpr int lookEvery = 100;

// Whether `pid` holds `file` ("pipe:[123]").
bool holds(pid_t pid, const std::string& file)
{
    return std::ranges::count(ProcessGroup::openFiles(pid), file) > 0;
}

// Whether `pid` is an ssh master (a listening control socket) that something goes through. The
// master's own end of a connection whose other end has just closed may linger for a moment.
bool servesOthers(pid_t pid)
{
    SocketTable table;
    if (!table.read())
        return true; // unknown: kept
    bool listening = false, connected = false;
    for (const std::uint64_t inode : SocketTable::socketsOf(pid)) {
        if (const SocketTable::Unix* socket = table.unixSocket(inode)) {
            listening = listening || socket->listening;
            connected = connected || (!socket->listening && socket->peer);
        }
    }
    return listening && connected;
}

} // namespace

Leftovers::~Leftovers()
{
    close();
}

void Leftovers::start(unsigned long pipe)
{
    close();
    const std::string name = "pipe:[" + std::to_string(pipe) + "]";
    ProcessGroup::forEachProcess([&](pid_t pid) {
        const auto holdsPipe = [&] {
            return holds(pid, name);
        };
        const int pidfd = pid != getpid() && holdsPipe() ? ProcessGroup::hold(pid, holdsPipe) : -1;
        if (pidfd < 0)
            return true;
        if (servesOthers(pid)) {
            inUse_.emplace_back(pid, pidfd);
        } else {
            ProcessGroup::signal(pidfd, SIGTERM);
            ending_.push_back(pidfd);
        }
        return true;
    });
    if (!ending_.empty() || !inUse_.empty())
        killAt_ = ChildProcess::Clock::now() + ChildProcess::killAfter;
}

int Leftovers::timeout() const
{
    return killAt_ ? std::min(lookEvery, PollTimeout::until(killAt_)) : -1;
}

void Leftovers::due()
{
    if (!killAt_)
        return;
    // A master whose last user was the client's ssh, once that connection has closed.
    for (auto master = inUse_.begin(); master != inUse_.end();) {
        if (!ProcessGroup::alive(master->second) || !servesOthers(master->first)) {
            ProcessGroup::signal(master->second, SIGTERM);
            ending_.push_back(master->second);
            master = inUse_.erase(master);
        } else {
            ++master;
        }
    }
    const bool ended = std::ranges::none_of(ending_, &ProcessGroup::alive);
    if (PollTimeout::until(killAt_) == 0) {
        for (const int pidfd : ending_)
            ProcessGroup::signal(pidfd, SIGKILL);
        close();
    } else if (ended && inUse_.empty()) {
        close();
    }
}

void Leftovers::close()
{
    for (const int pidfd : ending_)
        ::close(pidfd);
    for (const auto& master : inUse_)
        ::close(master.second);
    ending_.clear();
    inUse_.clear();
    killAt_.reset();
}
