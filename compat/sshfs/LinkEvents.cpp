#include "LinkEvents.h"

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <utility>

namespace {

// NetworkManager's NM_STATE_CONNECTED_LOCAL; SITE and GLOBAL come after it.
constexpr std::uint32_t connectedLocal = 50;

} // namespace

LinkEvents::~LinkEvents()
{
    close();
}

bool LinkEvents::open()
{
    if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return false;
    }
    // The senders are the well-known names, which only the services themselves may own.
    const bool subscribed =
        sd_bus_add_match_async(bus_, nullptr,
                               "type='signal',sender='org.freedesktop.login1',"
                               "path='/org/freedesktop/login1',"
                               "interface='org.freedesktop.login1.Manager',"
                               "member='PrepareForSleep'",
                               &LinkEvents::onSleep, nullptr, this) >= 0 &&
        sd_bus_add_match_async(bus_, nullptr,
                               "type='signal',sender='org.freedesktop.NetworkManager',"
                               "path='/org/freedesktop/NetworkManager',"
                               "interface='org.freedesktop.NetworkManager',"
                               "member='StateChanged'",
                               &LinkEvents::onNetwork, nullptr, this) >= 0;
    if (!subscribed)
        close();
    return subscribed;
}

pollfd LinkEvents::pollFd() const
{
    if (!bus_)
        return {-1, 0, 0};
    return {sd_bus_get_fd(bus_), static_cast<short>(std::max(0, sd_bus_get_events(bus_))), 0};
}

int LinkEvents::timeout() const
{
    std::uint64_t until = 0;
    if (!bus_ || sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUsec = std::uint64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    return until <= nowUsec ? 0
                            : int(std::min<std::uint64_t>((until - nowUsec + 999) / 1000, 60000));
}

std::optional<std::string> LinkEvents::take()
{
    int processed = 0;
    while (bus_ && (processed = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (processed < 0)
        close();
    return std::exchange(event_, std::nullopt);
}

int LinkEvents::onSleep(sd_bus_message* message, void* self, sd_bus_error*)
{
    int sleeping = 0;
    if (sd_bus_message_read(message, "b", &sleeping) > 0 && !sleeping)
        static_cast<LinkEvents*>(self)->event_ = "a wake";
    return 0;
}

int LinkEvents::onNetwork(sd_bus_message* message, void* self, sd_bus_error*)
{
    std::uint32_t state = 0;
    if (sd_bus_message_read(message, "u", &state) > 0 && state >= connectedLocal)
        static_cast<LinkEvents*>(self)->event_ = "a network change";
    return 0;
}

void LinkEvents::close()
{
    bus_ = sd_bus_flush_close_unref(bus_);
}
