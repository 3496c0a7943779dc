#pragma once

#include <systemd/sd-bus.h>

// A logind delay lock on sleep: logind then waits (up to its InhibitDelayMaxSec, 5 s by default)
// after PrepareForSleep(true) until the lock is released, which gives the adapter time to let go
// of its volume before the session is frozen. Asked without waiting; held as the descriptor that
// logind hands out.
class SleepLock
{
public:
    SleepLock() = default;
    ~SleepLock();
    SleepLock(const SleepLock&) = delete;
    SleepLock& operator=(const SleepLock&) = delete;

    // Asks logind for the lock, unless it is held or asked for; nothing without a bus.
    void take(sd_bus* bus);
    // Lets logind go on; an answer still to come is let go of as it arrives.
    void release();

private:
    static int onReply(sd_bus_message* message, void* self, sd_bus_error* error);

    sd_bus_slot* asking_ = nullptr;
    int fd_ = -1;
};
