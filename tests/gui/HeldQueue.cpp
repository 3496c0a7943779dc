#include "HeldQueue.h"

void HeldQueue::async(std::function<void()> work)
{
    std::unique_lock lock(mutex_);
    if (!released_) {
        held_.push_back(std::move(work));
        return;
    }
    lock.unlock();
    background_.async(std::move(work));
}

qsizetype HeldQueue::held() const
{
    std::lock_guard lock(mutex_);
    return qsizetype(held_.size());
}

void HeldQueue::release()
{
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lock(mutex_);
        released_ = true;
        jobs.swap(held_);
    }
    for (auto& job : jobs)
        background_.async(std::move(job));
}
