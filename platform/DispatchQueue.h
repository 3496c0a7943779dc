#pragma once

#include <functional>

// Where work is run: the main thread's event loop, or a background thread. Tests substitute their
// own queues through the coordinator's constructor.
class DispatchQueue
{
public:
    virtual ~DispatchQueue() = default;
    virtual void async(std::function<void()> work) = 0;
};
