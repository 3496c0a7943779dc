#pragma once

#include <chrono>
#include <string>

class MountTable;

// Tells when a client has outstayed its volume. After a lazy unmount Debian's sshfs can hang for
// good on its own output lock while it prints its closing statistics. By then its volume has left
// the mount table and the volume's FUSE connection has ended (its folder in fusectl, named after
// the device minor, is gone): a client still there a few seconds later is to be ended. This is a
// fact the kernel states, not a guess about users of the volume; where the connection cannot be
// seen (no fusectl), nothing is ever ended.
class ClientReaper
{
public:
    using Clock = std::chrono::steady_clock;

    explicit ClientReaper(std::string connections = "/sys/fs/fuse/connections",
                          Clock::duration grace = std::chrono::seconds(3))
        : connections_(std::move(connections)), grace_(grace)
    {}

    // The confirmed volume (again, after a wake).
    void watch(unsigned long mountId, unsigned minor);
    // Whether a change of the mount table concerns it.
    bool wantsTable() const { return stage_ == Stage::Mounted; }
    void tableChanged(const MountTable& table);
    // How long the caller may wait before calling due() (milliseconds; -1: until the table
    // changes).
    int timeout() const;
    // Whether the client is to be ended now; true once.
    bool due();

private:
    enum class Stage { Idle, Mounted, Unmounted, Ended, Done };

    void enter(Stage stage);

    const std::string connections_;
    const Clock::duration grace_; // for the client to end on its own
    std::string connection_;
    unsigned long mountId_ = 0;
    Stage stage_ = Stage::Idle;
    Clock::time_point since_;
};
