#pragma once

#include "MountProbe.h"

#include <chrono>
#include <optional>
#include <string>

#include <sys/types.h>

// After a wake or a network change, whether the volume's connection still answers: a statvfs on
// it, which a healthy link answers in one round trip. When none comes within a second, the ssh
// transport under the client is ended (KILL: after its first reconnect, the ssh that sshfs starts
// has TERM blocked), so that the client's `reconnect` opens a new connection for the next request
// instead of waiting for keep-alives to give up. A link that answers is left alone: sshfs fails
// the files opened before a reconnect.
class LinkCheck
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds bound{1000};

    // Asks the volume `mountId` at `target`, unless a check is under way.
    void start(const std::string& target, unsigned long mountId);
    // For poll: readable when the answer is there; the milliseconds left (-1: none).
    int fd() const { return probe_.fd(); }
    int timeout() const;
    void takeAnswer();
    // Whether the bound has passed without an answer; then the transport under `client` (the
    // rest of its process group, of which it is the leader) has been ended. Once per check.
    bool expired(pid_t client);

private:
    MountProbe probe_;
    bool asking_ = false;
    std::optional<Clock::time_point> deadline_;
};
