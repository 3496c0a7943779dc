#include "LinkEvents.h"

#include "PollTimeout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <utility>

namespace {

// NetworkManager's NM_STATE_CONNECTED_GLOBAL. "connected (site)" and "(local)" come below it: a
// link that is still settling (Wi-Fi re-associating) is not asked anything yet.
constexpr std::uint32_t connectedGlobal = 70;
// How soon a system bus that went away is looked for again.
constexpr auto reopenEvery = std::chrono::seconds(2);

constexpr char busName[] = "org.freedesktop.DBus";

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
    reopenAt_.reset();
    // The bus sends a service's signals only while the sender owns the name; the owner is checked
    // here again, as signals addressed to this connection reach it whatever its matches.
    bool subscribed = true;
    for (Service* service : {&logind_, &networkManager_}) {
        *service = {service->name, this, {}, false};
        const std::string owners = std::string("type='signal',sender='") + busName +
                                   "',interface='" + busName +
                                   "',member='NameOwnerChanged',arg0='" + service->name + "'";
        subscribed = subscribed &&
                     sd_bus_add_match_async(bus_, nullptr, owners.c_str(),
                                            &LinkEvents::onOwnerChanged, nullptr, this) >= 0 &&
                     sd_bus_call_method_async(bus_, nullptr, busName, "/org/freedesktop/DBus",
                                              busName, "GetNameOwner", &LinkEvents::onOwner,
                                              service, "s", service->name) >= 0;
    }
    subscribed =
        subscribed &&
        sd_bus_match_signal_async(bus_, nullptr, logind_.name, "/org/freedesktop/login1",
                                  "org.freedesktop.login1.Manager", "PrepareForSleep",
                                  &LinkEvents::onSleep, nullptr, this) >= 0 &&
        sd_bus_match_signal_async(bus_, nullptr, networkManager_.name,
                                  "/org/freedesktop/NetworkManager", networkManager_.name,
                                  "StateChanged", &LinkEvents::onState, nullptr, this) >= 0;
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
    if (!bus_)
        return PollTimeout::until(reopenAt_);
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t nowUsec = std::uint64_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    return until <= nowUsec ? 0
                            : int(std::min<std::uint64_t>((until - nowUsec + 999) / 1000, 60000));
}

std::vector<LinkEvents::Event> LinkEvents::take()
{
    if (!bus_ && reopenAt_ && PollTimeout::until(reopenAt_) == 0 && !open())
        reopenAt_ = PollTimeout::Clock::now() + reopenEvery;
    int processed = 0;
    while (bus_ && (processed = sd_bus_process(bus_, nullptr)) > 0) {
    }
    if (processed < 0) {
        close();
        reopenAt_ = PollTimeout::Clock::now() + reopenEvery;
    }
    return std::exchange(events_, {});
}

LinkEvents::Network LinkEvents::network() const
{
    if (!bus_)
        return Network::Absent;
    if (!networkManager_.known)
        return Network::Unknown;
    if (networkManager_.owner.empty())
        return Network::Absent;
    if (!state_)
        return Network::Unknown;
    return *state_ >= connectedGlobal ? Network::Connected : Network::Down;
}

bool LinkEvents::fromService(sd_bus_message* message, const Service& service) const
{
    const char* sender = sd_bus_message_get_sender(message);
    return sender && !service.owner.empty() && service.owner == sender &&
           !sd_bus_message_get_destination(message);
}

int LinkEvents::onOwner(sd_bus_message* message, void* asked, sd_bus_error*)
{
    auto& service = *static_cast<Service*>(asked);
    const char* owner = nullptr;
    // An owner change heard meanwhile is newer.
    if (service.known)
        return 0;
    if (!sd_bus_message_is_method_error(message, nullptr))
        sd_bus_message_read(message, "s", &owner);
    service.owner = owner ? owner : "";
    service.known = true;
    if (&service == &service.events->networkManager_)
        service.events->askState();
    return 0;
}

int LinkEvents::onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error*)
{
    auto* events = static_cast<LinkEvents*>(self);
    const char* sender = sd_bus_message_get_sender(message);
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (!sender || std::strcmp(sender, busName) != 0 ||
        sd_bus_message_read(message, "sss", &name, &before, &after) <= 0)
        return 0;
    for (Service* service : {&events->logind_, &events->networkManager_}) {
        if (std::strcmp(name, service->name) != 0)
            continue;
        service->owner = after;
        service->known = true;
        if (service == &events->networkManager_) {
            events->state_.reset();
            events->askState();
        }
    }
    return 0;
}

int LinkEvents::onSleep(sd_bus_message* message, void* self, sd_bus_error*)
{
    auto* events = static_cast<LinkEvents*>(self);
    int sleeping = 0;
    if (events->fromService(message, events->logind_) &&
        sd_bus_message_read(message, "b", &sleeping) > 0)
        events->events_.push_back(sleeping ? Event::Sleeping : Event::Woke);
    return 0;
}

int LinkEvents::onState(sd_bus_message* message, void* self, sd_bus_error*)
{
    auto* events = static_cast<LinkEvents*>(self);
    std::uint32_t state = 0;
    if (events->fromService(message, events->networkManager_) &&
        sd_bus_message_read(message, "u", &state) > 0)
        events->setState(state, true);
    return 0;
}

int LinkEvents::onStateProperty(sd_bus_message* message, void* self, sd_bus_error*)
{
    auto* events = static_cast<LinkEvents*>(self);
    std::uint32_t state = 0;
    if (!sd_bus_message_is_method_error(message, nullptr) &&
        sd_bus_message_read(message, "v", "u", &state) > 0 && !events->state_)
        events->setState(state, false);
    return 0;
}

void LinkEvents::askState()
{
    if (!networkManager_.owner.empty())
        sd_bus_call_method_async(
            bus_, nullptr, networkManager_.owner.c_str(), "/org/freedesktop/NetworkManager",
            "org.freedesktop.DBus.Properties", "Get", &LinkEvents::onStateProperty, this, "ss",
            networkManager_.name, "State");
}

void LinkEvents::setState(std::uint32_t state, bool event)
{
    const bool wasConnected = state_ && *state_ >= connectedGlobal;
    state_ = state;
    if (event && state >= connectedGlobal && !wasConnected)
        events_.push_back(Event::Connected);
}

void LinkEvents::close()
{
    bus_ = sd_bus_flush_close_unref(bus_);
    state_.reset();
}
