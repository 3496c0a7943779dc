#pragma once

#include <QHash>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Named in-process notifications. Delivery is synchronous on the posting thread; registering,
// removing and posting are safe from any thread, and a block may remove itself or post again.
class NotificationCenter
{
public:
    using Token = std::uint64_t; // 0 is never handed out

    static NotificationCenter& defaultCenter();

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    Token addObserver(const QString& name, std::function<void()> block);
    void removeObserver(const Token& token);
    void postNotificationName(const QString& name);

private:
    struct Observer;
    std::mutex mutex_;
    QHash<QString, std::vector<std::shared_ptr<Observer>>> observers_;
    Token nextToken_ = 1;
};
