#include "platform/NotificationCenter.h"

#include <atomic>

struct NotificationCenter::Observer
{
    Token token;
    std::function<void()> block;
    std::atomic<bool> removed{false};
};

NotificationCenter& NotificationCenter::defaultCenter()
{
    // Never destroyed: job threads may still post while the process exits.
    static NotificationCenter* const center = new NotificationCenter;
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(const QString& name,
                                                          std::function<void()> block)
{
    auto observer = std::make_shared<Observer>();
    observer->block = std::move(block);
    std::lock_guard lock(mutex_);
    observer->token = nextToken_++;
    observers_[name].push_back(observer);
    return observer->token;
}

void NotificationCenter::removeObserver(const Token& token)
{
    std::lock_guard lock(mutex_);
    for (auto it = observers_.begin(); it != observers_.end(); ++it) {
        auto& list = it.value();
        for (auto o = list.begin(); o != list.end(); ++o) {
            if ((*o)->token == token) {
                (*o)->removed = true;
                list.erase(o);
                if (list.empty())
                    observers_.erase(it);
                return;
            }
        }
    }
}

void NotificationCenter::postNotificationName(const QString& name)
{
    std::vector<std::shared_ptr<Observer>> receivers;
    {
        std::lock_guard lock(mutex_);
        receivers = observers_.value(name);
    }
    // Blocks run outside the lock so that they may register, remove or post themselves; one
    // removed by an earlier block of this same post is skipped.
    for (const auto& observer : receivers) {
        if (!observer->removed)
            observer->block();
    }
}
