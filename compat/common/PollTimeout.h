#pragma once

#include <algorithm>
#include <chrono>
#include <optional>

// A deadline as poll() takes it: the milliseconds left, rounded up, 0 once it has passed, or -1
// for none.
class PollTimeout
{
public:
    using Clock = std::chrono::steady_clock;

    static int until(const std::optional<Clock::time_point>& deadline)
    {
        if (!deadline)
            return -1;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        return int(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }
};
