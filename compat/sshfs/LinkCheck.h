#pragma once

#include "MountProbe.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include <sys/types.h>

// After a network change, whether the volume's connection still carries anything, and its end
// only when it certainly does not, so that the client's `reconnect` opens a new one for the next
// request instead of waiting for keep-alives to give up. A connection whose local address has
// left the machine is ended at once. Otherwise the volume is asked (a statvfs, one round trip on
// a healthy link) and given a bound fitted to the link (see Transport::bound); the connection is
// ended only when neither an answer nor a single byte has come by then: a link that stalls and
// lives (Wi-Fi re-associating, a request queued behind a large upload) is left alone, as sshfs
// fails the files opened before a reconnect. Nothing is ended while the user is being asked
// something, and nothing where no connection can be seen.
class LinkCheck
{
public:
    using Clock = std::chrono::steady_clock;
    enum class Outcome { None, AddressGone, NoAnswer };

    // Checks the volume `mountId` at `target`, whose client is `client`, unless a check is under
    // way: AddressGone when its connection was ended at once.
    Outcome start(const std::string& target, unsigned long mountId, pid_t client);
    // For poll: readable when the answer is there; the milliseconds left (-1: none).
    int fd() const { return probe_.fd(); }
    int timeout() const;
    void takeAnswer();
    // NoAnswer when the bound has passed with nothing from the link: the connection has then been
    // ended. Once per check.
    Outcome expired();
    std::chrono::milliseconds bound() const { return bound_; }

private:
    MountProbe probe_;
    bool asking_ = false; // the probe has not answered
    std::optional<Clock::time_point> deadline_;
    pid_t client_ = 0;
    std::set<std::uint64_t> connections_;
    std::optional<std::uint64_t> received_;
    std::chrono::milliseconds bound_{0};
};
