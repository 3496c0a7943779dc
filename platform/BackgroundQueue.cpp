#include "platform/BackgroundQueue.h"

#include <thread>

void BackgroundQueue::async(std::function<void()> work)
{
    // Detached: nothing joins a job, which may hold its thread for the life of a mount.
    std::thread(std::move(work)).detach();
}
