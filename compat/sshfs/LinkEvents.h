#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>
#include <systemd/sd-bus.h>

// What the system bus says about the link under a volume: logind's PrepareForSleep, before a
// sleep and after the wake, and NetworkManager's state. Only the services themselves are heard:
// a signal counts when its sender is the current owner of the service's well-known name (told by
// the bus itself) and it is addressed to no one, so that no other program on the machine can set
// off a check or a letting go. Plain sd-bus, whose descriptor goes into the adapter's poll loop.
// No system bus: nothing, silently; a bus that goes away is listened to again once it is back.
class LinkEvents
{
public:
    enum class Event {
        Sleeping,  // a sleep is coming
        Woke,      // the machine woke
        Connected, // NetworkManager went to a connected state
    };
    enum class Network { Unknown, Absent, Down, Connected };

    LinkEvents() = default;
    ~LinkEvents();
    LinkEvents(const LinkEvents&) = delete;
    LinkEvents& operator=(const LinkEvents&) = delete;

    // Connects and subscribes, without waiting for the bus; false when there is no bus.
    bool open();
    sd_bus* bus() const { return bus_; }

    // For poll: the bus's descriptor (-1 when closed) and what to wait for.
    pollfd pollFd() const;
    // Milliseconds until the bus, or the next try to reach it again, wants attention; or -1.
    int timeout() const;
    // Processes what the bus has sent: the events that came, in order.
    std::vector<Event> take();

    // NetworkManager's state as last heard: Absent where it does not run, or while there is no
    // bus to ask.
    Network network() const;

private:
    struct Service
    {
        const char* name;
        LinkEvents* events;
        std::string owner; // its unique name; empty while unknown or when it has none
        bool known = false;
    };

    static int onOwner(sd_bus_message* message, void* service, sd_bus_error* error);
    static int onOwnerChanged(sd_bus_message* message, void* self, sd_bus_error* error);
    static int onSleep(sd_bus_message* message, void* self, sd_bus_error* error);
    static int onState(sd_bus_message* message, void* self, sd_bus_error* error);
    static int onStateProperty(sd_bus_message* message, void* self, sd_bus_error* error);
    bool fromService(sd_bus_message* message, const Service& service) const;
    void askState();
    void setState(std::uint32_t state, bool event);
    void close();

    sd_bus* bus_ = nullptr;
    Service logind_{"org.freedesktop.login1", this, {}, false};
    Service networkManager_{"org.freedesktop.NetworkManager", this, {}, false};
    std::optional<std::uint32_t> state_;
    std::vector<Event> events_;
    std::optional<std::chrono::steady_clock::time_point> reopenAt_;
};
