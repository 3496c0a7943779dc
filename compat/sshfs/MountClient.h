#pragma once

#include "ClientCommand.h"
#include "ClientOutput.h"
#include "ClientReaper.h"
#include "LineWriter.h"
#include "LinkCheck.h"
#include "LinkEvents.h"
#include "MountProbe.h"
#include "SshLogins.h"

#include "ChildProcess.h"
#include "MountTable.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

// Runs Debian's sshfs in the foreground for one mount, passes its output on defused, and writes
// the one verdict: mounted once a statvfs on the new mount has answered (the kernel mount comes
// long before the connection), or one failure line with ssh's reason. Stays for the life of the
// mount, and takes a volume whose client died off the mount table before it goes. After a wake
// or a network change it checks the volume's link (see LinkCheck).
class MountClient
{
public:
    explicit MountClient(ClientCommand::Request request) : args_(std::move(request)), output_(out_)
    {}

    // The exit status for the process: the real client's, and never 0 for a failed mount.
    int run();

private:
    enum class State { Waiting, Probing, Failing, Confirmed };

    int refuse(const std::string& reason);
    bool start();
    int loop();
    void lookForMount();
    void takeProbe();
    void takeSignals();
    void takeClientEnd();
    void takeLinkEvents();
    void takeTimeouts();
    int timeout() const;
    void detachDeadVolume();

    ClientCommand::Request args_;
    LineWriter out_;
    ClientOutput output_;
    std::string host_;
    std::string target_; // the mount point as the mount table will show it
    std::set<unsigned long> earlierMounts_;
    std::optional<MountTable::Entry> ours_; // the client's mount, once seen
    ClientReaper reaper_;
    int mountinfo_ = -1;
    int signals_ = -1;
    int clientOutput_ = -1;
    MountProbe probe_;
    ChildProcess client_;
    LinkEvents linkEvents_;
    LinkCheck linkCheck_;
    SshLogins logins_{std::getenv("XDG_RUNTIME_DIR")};
    std::string linkEvent_; // that set off the check under way
    State state_ = State::Waiting;
    // A client whose mount failed but which stays is asked to go at `lingerUntil_`; after it has
    // gone, its ssh may still hold the pipe until `drainUntil_`.
    std::optional<ChildProcess::Clock::time_point> lingerUntil_, drainUntil_;
    std::string probeReason_;
};
