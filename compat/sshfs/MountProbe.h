#pragma once

#include <optional>
#include <string>

// Whether a new mount works. statvfs on it returns only once the client's connection is up (the
// kernel mount comes long before), so it runs in a thread of its own, and the answer comes back
// through a pipe that the caller's poll loop watches.
class MountProbe
{
public:
    enum class Result : int { Answered, Failed, Replaced };
    struct Answer
    {
        Result result;
        int error; // errno of the failure
    };

    MountProbe();
    ~MountProbe();
    MountProbe(const MountProbe&) = delete;
    MountProbe& operator=(const MountProbe&) = delete;

    // Readable once the answer is there; -1 when the pipe could not be made.
    int fd() const { return read_; }
    // Asks the mount `mountId` at `target`. The mount is pinned through a descriptor first, so
    // the answer can only come from it, and never from the folder beneath it once a failed
    // client has gone (Replaced).
    void start(const std::string& target, unsigned long mountId);
    std::optional<Answer> take();

private:
    int read_ = -1;
    int write_ = -1;
};
