#pragma once

#include "platform/DispatchQueue.h"

// The event loop of the main thread. Work queued before the application object exists, or after
// it is gone, is dropped.
class MainQueue : public DispatchQueue
{
public:
    void async(std::function<void()> work) override;
};
