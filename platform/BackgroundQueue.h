#pragma once

#include "platform/DispatchQueue.h"

// One new thread per piece of work. A mount job holds its thread for the life of the mount, so a
// bounded pool would starve; this queue never bounds.
class BackgroundQueue : public DispatchQueue
{
public:
    void async(std::function<void()> work) override;
};
