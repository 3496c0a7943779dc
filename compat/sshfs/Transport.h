#pragma once

#include "ProcessGroup.h"
#include "SocketTable.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include <sys/types.h>

// What carries a mounted volume's connection, looked at now: the rest of the client's process
// group (its ssh, and what ssh started for the connection: a ProxyCommand, `ssh -W` for a
// ProxyJump), the TCP connections they hold, and, where the user's ControlMaster made one, the
// master that the ssh reaches through its control socket, which lives in a session of its own
// and holds the connection itself.
class Transport
{
public:
    // `client` leads its own process group; `table` is the machine's sockets.
    Transport(pid_t client, const SocketTable& table);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // The TCP connections found (their inodes): none, and nothing is known about the link.
    const std::set<std::uint64_t>& connections() const { return connections_; }
    // Whether something besides ssh and the holders of the connections runs in the group: an
    // askpass asking the user for a reconnect's password. Nothing is ended then.
    bool asking() const { return asking_; }
    // Whether a connection's local address is none of `addresses` (the machine's): after a move
    // to another network, such a connection can never carry anything again.
    bool addressGone(const std::vector<SocketTable::Address>& addresses) const;
    // How long a healthy link may take to answer: twice the connection's retransmission timeout
    // (which grows while TCP backs off on a stalled link) and a round trip, never below a second
    // nor above the 15 s in which keep-alives give up.
    std::chrono::milliseconds bound() const;
    // The bytes received on the connections so far, when the kernel says.
    std::optional<std::uint64_t> received() const;

    // Ends what carries the connection (KILL: after a reconnect, the ssh that sshfs starts has
    // TERM blocked): the processes that hold the connections, and the ssh processes of the group.
    void end() const;

private:
    void add(int pidfd, const std::vector<std::uint64_t>& sockets);

    const SocketTable& table_;
    ProcessGroup group_;
    std::set<std::uint64_t> connections_;
    std::vector<int> carriers_; // pidfds, borrowed from group_ but for the master's
    int master_ = -1;           // pidfd
    bool asking_ = false;
};
