#pragma once

#include "ClientCommand.h"
#include "ClientOutput.h"
#include "ClientReaper.h"
#include "Leftovers.h"
#include "LineWriter.h"
#include "LinkCheck.h"
#include "LinkEvents.h"
#include "MountProbe.h"
#include "SleepLock.h"
#include "SshLogins.h"

#include "ChildProcess.h"
#include "MountTable.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Runs Debian's sshfs in the foreground for one mount, passes its output on defused, and writes
// the one verdict: mounted once a statvfs on the new mount has answered (the kernel mount comes
// long before the connection), or one failure line with ssh's reason. Stays for the life of the
// mount, and takes a volume whose client died off the mount table before it goes. Before a sleep
// it lets go of the volume (nothing may wait on it while the session is frozen) and mounts it
// again after the wake; after a network change it checks the volume's link (see LinkCheck).
class MountClient
{
public:
    explicit MountClient(ClientCommand::Request request) : args_(std::move(request)) {}

    // The exit status for the process: the real client's, and never 0 for a failed mount.
    int run();

private:
    enum class State {
        Waiting,   // for the client's mount to show in the table
        Probing,   // for it to answer
        Failing,   // the mount failed; the client is given time to go
        Confirmed, // the volume works
        Asleep,    // let go of before a sleep
        Returning, // awake: mounted again once the network is back
    };

    int refuse(const std::string& reason);
    bool prepare();
    bool startClient();
    int loop();
    void lookForMount();
    void takeProbe();
    void takeSignals();
    void takeClientEnd();
    void takeLinkEvents();
    void takeTimeouts();
    int timeout() const;
    void checkLink();
    void letGo();
    void mountAgain();
    void remountFailed();
    std::string failureReason() const;
    void note(const std::string& text);
    void giveUp(const std::string& reason);
    void finish();
    void drainOutput();
    void detachDeadVolume();

    ClientCommand::Request args_;
    std::vector<std::string> arguments_; // the real client's, the same after a wake
    LineWriter out_;
    std::optional<ClientOutput> output_;
    std::string host_;
    std::string target_; // the mount point as the mount table will show it
    std::set<unsigned long> earlierMounts_;
    std::optional<MountTable::Entry> ours_; // the client's mount, once seen
    ClientReaper reaper_;
    int mountinfo_ = -1;
    int signals_ = -1;
    int clientOutput_ = -1;
    unsigned long outputPipe_ = 0; // its inode
    MountProbe probe_;
    std::optional<ChildProcess> client_;
    pid_t clientPid_ = 0; // of the latest client, after it was reaped too
    LinkEvents linkEvents_;
    LinkCheck linkCheck_;
    SleepLock sleepLock_;
    Leftovers leftovers_;
    SshLogins logins_{std::getenv("XDG_RUNTIME_DIR")};
    State state_ = State::Waiting;
    bool verdict_ = false;  // it was written: a mount from now on follows a wake
    bool finished_ = false; // nothing more to mount: the adapter goes once the rest is done
    bool stopAsked_ = false;
    bool busTried_ = false;
    // A client whose mount failed but which stays is asked to go at `lingerUntil_`; after it has
    // gone, its ssh may still hold the pipe until `drainUntil_`. After a wake, mounting again is
    // given up at `giveUpAt_`; without NetworkManager to say when the network is back, it is
    // tried again at `retryAt_`.
    std::optional<ChildProcess::Clock::time_point> lingerUntil_, drainUntil_, giveUpAt_, retryAt_;
    bool waitForNetwork_ = false; // a failed mount after a wake is tried again at "connected"
    std::string probeReason_;
};
