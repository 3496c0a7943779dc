#include "ClientOutput.h"

#include "mount/MountVerdict.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <utility>

#include <unistd.h>

namespace {

// sshfs's own words after ssh's, never the reason for a failure.
bool isChatter(std::string_view line)
{
    constexpr std::array<std::string_view, 2> prefixes = {"read: ", "Warning: Permanently added"};
    return line.find_first_not_of(" \t\r") == line.npos ||
           std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view prefix) { return line.starts_with(prefix); });
}

} // namespace

bool ClientOutput::readFrom(int fd)
{
    char buffer[8192];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return true;
    if (n <= 0) {
        if (!pending_.empty())
            forward(std::exchange(pending_, {}));
        return false;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t end; (end = pending_.find('\n', start)) != pending_.npos; start = end + 1)
        forward(pending_.substr(start, end - start));
    pending_.erase(0, start);
    // A line without end must not grow without bound.
    if (pending_.size() > 65536)
        forward(std::exchange(pending_, {}));
    return true;
}

void ClientOutput::forward(std::string line)
{
    if (claim_ && claim_(line))
        return;
    if (!isChatter(line))
        reason_ = line.substr(0, line.find_last_not_of('\r') + 1); // ssh ends some with CR LF
    out_.write(MountVerdict::defuse(std::move(line)));
}
