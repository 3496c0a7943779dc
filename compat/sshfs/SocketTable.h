#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include <sys/types.h>

// The machine's TCP and Unix sockets as the kernel lists them through sock_diag, which any user
// may ask, keyed by inode: what a socket held by another process is connected from, how its link
// is timed, and which Unix socket is at the other end of one. Reading it never touches the
// network.
class SocketTable
{
public:
    struct Address
    {
        int family = 0; // AF_INET or AF_INET6
        std::array<std::uint8_t, 16> bytes = {};
        bool operator==(const Address&) const = default;
    };

    struct Tcp
    {
        Address local;
        bool established = false;
        // From the kernel's tcp_info, when it gives them: the smoothed round trip and the
        // retransmission timeout (microseconds), and the bytes received so far.
        std::optional<std::uint32_t> roundTrip, retransmitAfter;
        std::optional<std::uint64_t> received;
    };

    struct Unix
    {
        std::uint64_t peer = 0; // the inode at the other end; 0 for none
        bool listening = false;
    };

    // Reads both tables; false when the kernel would not answer.
    bool read();

    const Tcp* tcp(std::uint64_t inode) const;
    const Unix* unixSocket(std::uint64_t inode) const;

    // The inodes of the sockets that `pid` holds open.
    static std::vector<std::uint64_t> socketsOf(pid_t pid);
    // The addresses of the machine's network interfaces (in this network namespace).
    static std::vector<Address> localAddresses();

private:
    bool dump(int family);

    std::map<std::uint64_t, Tcp> tcp_;
    std::map<std::uint64_t, Unix> unix_;
};
