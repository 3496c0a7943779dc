#include "SleepLock.h"

#include <fcntl.h>
#include <unistd.h>

SleepLock::~SleepLock()
{
    release();
}

void SleepLock::take(sd_bus* bus)
{
    if (!bus || fd_ >= 0 || asking_)
        return;
    if (sd_bus_call_method_async(bus, &asking_, "org.freedesktop.login1", "/org/freedesktop/login1",
                                 "org.freedesktop.login1.Manager", "Inhibit", &SleepLock::onReply,
                                 this, "ssss", "sleep", "Tollvane",
                                 "A volume mounted over SSH is let go of first", "delay") < 0)
        asking_ = nullptr;
}

void SleepLock::release()
{
    // Unreferencing the slot drops the call's callback.
    asking_ = sd_bus_slot_unref(asking_);
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

int SleepLock::onReply(sd_bus_message* message, void* self, sd_bus_error*)
{
    auto* lock = static_cast<SleepLock*>(self);
    lock->asking_ = sd_bus_slot_unref(lock->asking_);
    int fd = -1;
    // The message owns its descriptor.
    if (!sd_bus_message_is_method_error(message, nullptr) &&
        sd_bus_message_read(message, "h", &fd) > 0)
        lock->fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return 0;
}
