#pragma once

#include "platform/BackgroundQueue.h"
#include "platform/DispatchQueue.h"

#include <QtGlobal>

#include <mutex>
#include <vector>

// A background queue that holds its work until the test lets it go, so that a test can look at
// the window before any command has started. Once released it runs everything on threads of its
// own, as the real queue does.
class HeldQueue : public DispatchQueue
{
public:
    void async(std::function<void()> work) override;
    qsizetype held() const;
    void release();

private:
    mutable std::mutex mutex_;
    std::vector<std::function<void()>> held_;
    bool released_ = false;
    BackgroundQueue background_;
};
