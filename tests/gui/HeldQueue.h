#pragma once

#include "platform/BackgroundQueue.h"

#include <mutex>
#include <vector>

// A background queue that holds its work until the test lets it go, so that a test can look at
// the window before any command has started. Once released it runs everything on threads of its
// own, as the real queue does.
class HeldQueue : public DispatchQueue
{
public:
    void async(std::function<void()> work) override
    {
        std::unique_lock lock(mutex_);
        if (!released_) {
            held_.push_back(std::move(work));
            return;
        }
        lock.unlock();
        background_.async(std::move(work));
    }
    qsizetype held() const
    {
        std::lock_guard lock(mutex_);
        return qsizetype(held_.size());
    }
    void release()
    {
        std::unique_lock lock(mutex_);
        released_ = true;
        auto jobs = std::move(held_);
        lock.unlock();
        for (auto& job : jobs)
            background_.async(std::move(job));
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::function<void()>> held_;
    bool released_ = false;
    BackgroundQueue background_;
};
