#pragma once

#include "ClientOutput.h"
#include "ClientReaper.h"
#include "LineWriter.h"

#include "MountTable.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <sys/types.h>

// Runs Debian's sshfs in the foreground for one mount, forwards its output, and adds one line of
// its own: a line containing "statfs" once a statvfs on the new mount has answered (the kernel
// mount comes long before the connection), or one failure line. Stays for the life of the mount.
class MountClient
{
public:
    static constexpr const char* realClient = "/usr/bin/sshfs";

    struct Request
    {
        std::vector<std::string> options; // for the real client, without volname/volicon
        std::vector<std::string> passed;  // other options, for the real client as they are
        std::string remote;               // host:dir
        std::string mountPoint;
    };

    explicit MountClient(Request request) : args_(std::move(request)), output_(out_) {}

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
    void closeFailure();

    Request args_;
    LineWriter out_;
    ClientOutput output_;
    std::string host_;
    std::string target_; // the mount point as the mount table will show it
    std::set<unsigned long> earlierMounts_;
    MountTable::Entry probed_; // the new mount
    ClientReaper reaper_;
    int mountinfo_ = -1;
    int signals_ = -1;
    int clientOutput_ = -1;
    int probeResult_ = -1;
    int probeWrite_ = -1;
    pid_t client_ = -1;
    std::optional<int> clientStatus_;
    State state_ = State::Waiting;
    bool terminated_ = false;
    std::string probeReason_;
};
