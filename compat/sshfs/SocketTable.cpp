#include "SocketTable.h"

#include "ProcessGroup.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include <ifaddrs.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/tcp.h>
#include <linux/unix_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int tcpEstablished = 1; // TCP_ESTABLISHED
constexpr int tcpListen = 10;     // TCP_LISTEN, also a listening Unix socket's state

// The attribute `type` among those after `header` bytes of a netlink message, or nullptr.
const rtattr* attribute(const nlmsghdr* message, std::size_t header, unsigned short type)
{
    int length = int(message->nlmsg_len) - int(NLMSG_LENGTH(header));
    for (auto* at = reinterpret_cast<const rtattr*>(
             reinterpret_cast<const char*>(NLMSG_DATA(message)) + NLMSG_ALIGN(header));
         RTA_OK(at, length); at = RTA_NEXT(at, length)) {
        if (at->rta_type == type)
            return at;
    }
    return nullptr;
}

} // namespace

bool SocketTable::read()
{
    tcp_.clear();
    unix_.clear();
    return dump(AF_INET) && dump(AF_INET6) && dump(AF_UNIX);
}

bool SocketTable::dump(int family)
{
    const int fd = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return false;
    struct
    {
        nlmsghdr header;
        union {
            inet_diag_req_v2 inet;
            unix_diag_req unix;
        };
    } request = {};
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    if (family == AF_UNIX) {
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.unix);
        request.unix.sdiag_family = AF_UNIX;
        request.unix.udiag_states = ~0u;
        request.unix.udiag_show = UDIAG_SHOW_PEER;
    } else {
        request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.inet);
        request.inet.sdiag_family = std::uint8_t(family);
        request.inet.sdiag_protocol = IPPROTO_TCP;
        request.inet.idiag_ext = 1 << (INET_DIAG_INFO - 1);
        request.inet.idiag_states = ~0u;
    }
    bool done = send(fd, &request, request.header.nlmsg_len, 0) < 0;
    bool ok = !done;
    alignas(nlmsghdr) char buffer[32768];
    while (!done) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        int left = int(n);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(message, left);
             message = NLMSG_NEXT(message, left)) {
            if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) {
                ok = message->nlmsg_type == NLMSG_DONE;
                done = true;
                break;
            }
            if (family == AF_UNIX) {
                const auto* entry = static_cast<const unix_diag_msg*>(NLMSG_DATA(message));
                Unix& socket = unix_[entry->udiag_ino];
                socket.listening = entry->udiag_state == tcpListen;
                if (const rtattr* peer = attribute(message, sizeof *entry, UNIX_DIAG_PEER);
                    peer && RTA_PAYLOAD(peer) >= sizeof(std::uint32_t))
                    socket.peer = *static_cast<const std::uint32_t*>(RTA_DATA(peer));
                continue;
            }
            const auto* entry = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
            Tcp& socket = tcp_[entry->idiag_inode];
            socket.local.family = entry->idiag_family;
            std::memcpy(socket.local.bytes.data(), entry->id.idiag_src,
                        entry->idiag_family == AF_INET ? 4 : 16);
            socket.established = entry->idiag_state == tcpEstablished;
            const rtattr* info = attribute(message, sizeof *entry, INET_DIAG_INFO);
            if (!info)
                continue;
            // An older kernel's tcp_info ends earlier: only what it holds is taken.
            tcp_info timing = {};
            const std::size_t size = std::min<std::size_t>(RTA_PAYLOAD(info), sizeof timing);
            std::memcpy(&timing, RTA_DATA(info), size);
            const auto holds = [size](std::size_t end) {
                return size >= end;
            };
            if (holds(offsetof(tcp_info, tcpi_rttvar))) {
                socket.roundTrip = timing.tcpi_rtt;
                socket.retransmitAfter = timing.tcpi_rto;
            }
            if (holds(offsetof(tcp_info, tcpi_bytes_received) + sizeof timing.tcpi_bytes_received))
                socket.received = timing.tcpi_bytes_received;
        }
    }
    close(fd);
    return ok;
}

const SocketTable::Tcp* SocketTable::tcp(std::uint64_t inode) const
{
    const auto found = tcp_.find(inode);
    return found == tcp_.end() ? nullptr : &found->second;
}

const SocketTable::Unix* SocketTable::unixSocket(std::uint64_t inode) const
{
    const auto found = unix_.find(inode);
    return found == unix_.end() ? nullptr : &found->second;
}

std::vector<std::uint64_t> SocketTable::socketsOf(pid_t pid)
{
    std::vector<std::uint64_t> result;
    for (const std::string& file : ProcessGroup::openFiles(pid)) {
        unsigned long long inode = 0;
        if (std::sscanf(file.c_str(), "socket:[%llu]", &inode) == 1)
            result.push_back(inode);
    }
    return result;
}

std::vector<SocketTable::Address> SocketTable::localAddresses()
{
    std::vector<Address> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* at = list; at; at = at->ifa_next) {
        if (!at->ifa_addr ||
            (at->ifa_addr->sa_family != AF_INET && at->ifa_addr->sa_family != AF_INET6))
            continue;
        Address address{at->ifa_addr->sa_family, {}};
        if (address.family == AF_INET)
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr, 4);
        else
            std::memcpy(address.bytes.data(),
                        &reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr, 16);
        result.push_back(address);
    }
    freeifaddrs(list);
    return result;
}
