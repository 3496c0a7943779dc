#pragma once

#include "ClientCommand.h"
#include "ClientOutput.h"
#include "ClientReaper.h"
#include "LineWriter.h"
#include "MountProbe.h"

#include "MountTable.h"

#include <optional>
#include <set>
#include <string>

#include <sys/types.h>

// Runs Debian's sshfs in the foreground for one mount, passes its output on defused, and writes
// the one verdict: "statfs" once a statvfs on the new mount has answered (the kernel mount comes
// long before the connection), or one failure line with ssh's reason. Stays for the life of the
// mount, and takes a volume whose client died off the mount table before it goes.
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
    pid_t client_ = -1;
    std::optional<int> clientStatus_;
    State state_ = State::Waiting;
    bool terminated_ = false;
    std::string probeReason_;
};
