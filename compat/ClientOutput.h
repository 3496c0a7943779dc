#pragma once

#include "LineWriter.h"

#include <string>
#include <string_view>

// The real client's output, cut into lines as it arrives and forwarded unchanged. It remembers
// what a closing line of ours needs: whether a forwarded line already set off an alert, and the
// most useful reason for a failure.
class ClientOutput
{
public:
    explicit ClientOutput(LineWriter& out) : out_(out) {}

    // Reads what is there; false at end of file or on a read error (a last partial line is
    // forwarded then).
    bool readFrom(int fd);

    bool sawFailurePhrase() const { return sawFailurePhrase_; }
    // The last line that is neither sshfs's own chatter nor an alert: ssh's message, usually.
    const std::string& reason() const { return reason_; }

    // The application raises one alert for every line that holds one of its failure phrases,
    // and takes a line holding "statfs" as the confirmation of a mount.
    static bool setsOffAlert(std::string_view line);
    static bool confirms(std::string_view line);

private:
    void forward(std::string line);

    LineWriter& out_;
    std::string pending_;
    std::string reason_;
    bool sawFailurePhrase_ = false;
};
