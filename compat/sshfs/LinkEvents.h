#pragma once

#include <optional>
#include <string>

#include <poll.h>
#include <systemd/sd-bus.h>

// What the system bus says about the link under a volume: logind's PrepareForSleep(false), the
// wake, and NetworkManager's StateChanged to a connected state. Either may leave the volume's
// connection dead without a word (a wake on another network, a NAT that forgot it). Plain sd-bus,
// whose descriptor goes into the adapter's poll loop. No system bus, no logind or no
// NetworkManager: no events, silently.
class LinkEvents
{
public:
    LinkEvents() = default;
    ~LinkEvents();
    LinkEvents(const LinkEvents&) = delete;
    LinkEvents& operator=(const LinkEvents&) = delete;

    // Connects and subscribes, without waiting for the bus; false when there is no bus.
    bool open();

    // For poll: the bus's descriptor (-1 when closed) and what to wait for.
    pollfd pollFd() const;
    // Milliseconds until the bus wants to be processed again, or -1.
    int timeout() const;
    // Processes what the bus has sent: the event that came ("a wake", "a network change"), if
    // any. A bus that goes away is closed.
    std::optional<std::string> take();

private:
    static int onSleep(sd_bus_message* message, void* self, sd_bus_error* error);
    static int onNetwork(sd_bus_message* message, void* self, sd_bus_error* error);
    void close();

    sd_bus* bus_ = nullptr;
    std::optional<std::string> event_;
};
