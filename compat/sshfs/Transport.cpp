#include "Transport.h"

#include <algorithm>
#include <cstring>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr auto atLeast = std::chrono::milliseconds(1000);
constexpr auto atMost = std::chrono::milliseconds(15000);

// An IPv4 address as an IPv6 socket shows it (::ffff:a.b.c.d), as itself.
SocketTable::Address plain(SocketTable::Address address)
{
    static constexpr std::uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (address.family == AF_INET6 && std::memcmp(address.bytes.data(), mapped, 12) == 0) {
        std::memmove(address.bytes.data(), address.bytes.data() + 12, 4);
        std::fill(address.bytes.begin() + 4, address.bytes.end(), 0);
        address.family = AF_INET;
    }
    return address;
}

// The process, among this user's, that holds the socket `inode`.
pid_t holderOf(std::uint64_t inode)
{
    pid_t found = 0;
    ProcessGroup::forEachProcess([&](pid_t pid) {
        if (std::ranges::count(SocketTable::socketsOf(pid), inode))
            found = pid;
        return !found;
    });
    return found;
}

bool holdsConnection(const SocketTable& table, const std::vector<std::uint64_t>& sockets)
{
    return std::ranges::any_of(sockets, [&](std::uint64_t inode) {
        const SocketTable::Tcp* tcp = table.tcp(inode);
        return tcp && tcp->established;
    });
}

} // namespace

Transport::Transport(pid_t client, const SocketTable& table) : table_(table), group_(client, client)
{
    for (const ProcessGroup::Member& member : group_.members()) {
        const std::vector<std::uint64_t> sockets = SocketTable::socketsOf(member.pid);
        if (member.name != "ssh" && !holdsConnection(table, sockets)) {
            asking_ = true;
            continue;
        }
        add(member.pidfd, sockets);
        // An ssh that reaches a master through its control socket: the master, an ssh holding
        // the connection, carries it (an agent at the end of a socket holds none).
        for (const std::uint64_t inode : sockets) {
            const SocketTable::Unix* socket = table.unixSocket(inode);
            const pid_t holder = socket && socket->peer && master_ < 0 ? holderOf(socket->peer) : 0;
            if (holder <= 0 || ProcessGroup::groupOf(holder) == client ||
                ProcessGroup::nameOf(holder) != "ssh")
                continue;
            std::vector<std::uint64_t> held;
            master_ = ProcessGroup::hold(holder, [&] {
                held = SocketTable::socketsOf(holder);
                return std::ranges::count(held, socket->peer) && holdsConnection(table, held);
            });
            if (master_ >= 0)
                add(master_, held);
        }
    }
}

Transport::~Transport()
{
    if (master_ >= 0)
        close(master_);
}

void Transport::add(int pidfd, const std::vector<std::uint64_t>& sockets)
{
    carriers_.push_back(pidfd);
    for (const std::uint64_t inode : sockets) {
        const SocketTable::Tcp* tcp = table_.tcp(inode);
        if (tcp && tcp->established)
            connections_.insert(inode);
    }
}

bool Transport::addressGone(const std::vector<SocketTable::Address>& addresses) const
{
    return std::ranges::any_of(connections_, [&](std::uint64_t inode) {
        const SocketTable::Address local = plain(table_.tcp(inode)->local);
        return std::ranges::none_of(addresses, [&](const SocketTable::Address& address) {
            return plain(address) == local;
        });
    });
}

std::chrono::milliseconds Transport::bound() const
{
    std::chrono::microseconds longest{0};
    for (const std::uint64_t inode : connections_) {
        const SocketTable::Tcp* tcp = table_.tcp(inode);
        if (tcp->roundTrip && tcp->retransmitAfter)
            longest =
                std::max(longest, std::chrono::microseconds(
                                      2 * std::uint64_t(*tcp->retransmitAfter) + *tcp->roundTrip));
    }
    return std::clamp(std::chrono::ceil<std::chrono::milliseconds>(longest), atLeast, atMost);
}

std::optional<std::uint64_t> Transport::received() const
{
    std::uint64_t total = 0;
    for (const std::uint64_t inode : connections_) {
        const SocketTable::Tcp* tcp = table_.tcp(inode);
        if (!tcp->received)
            return std::nullopt;
        total += *tcp->received;
    }
    return total;
}

void Transport::end() const
{
    for (const int pidfd : carriers_)
        ProcessGroup::signal(pidfd, SIGKILL);
}
