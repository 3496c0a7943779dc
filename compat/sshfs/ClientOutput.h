#pragma once

#include "LineWriter.h"

#include <functional>
#include <string>
#include <string_view>

// The real client's output, cut into lines as it arrives and passed on defused: the application
// acts on our verdict alone. It keeps the most useful reason for a failure.
class ClientOutput
{
public:
    explicit ClientOutput(LineWriter& out) : out_(out) {}

    // Reads what is there; false at end of file or on a read error (a last partial line is
    // forwarded then).
    bool readFrom(int fd);

    // The last line that is not sshfs's own chatter: ssh's message, usually.
    const std::string& reason() const { return reason_; }

    // A line that `claim` takes is read there alone: it is neither passed on nor a reason.
    void setClaim(std::function<bool(std::string_view)> claim) { claim_ = std::move(claim); }

private:
    void forward(std::string line);

    LineWriter& out_;
    std::string pending_;
    std::string reason_;
    std::function<bool(std::string_view)> claim_;
};
