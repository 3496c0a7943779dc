#include "MountClient.h"

#include "ClientEnvironment.h"
#include "FuseConnection.h"
#include "LazyUnmount.h"
#include "MountPoint.h"
#include "PollTimeout.h"
#include "SocketTable.h"
#include "SshOptions.h"
#include "Transport.h"
#include "mount/MountVerdict.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = ChildProcess::Clock;

// After the client has gone, its ssh may still hold the pipe for a moment.
constexpr auto drainTime = std::chrono::milliseconds(1000);
// A client whose statvfs failed is given this long to go by itself, with ssh's reason.
constexpr auto lingerTime = std::chrono::milliseconds(2000);
// After a wake, mounting again is tried this long, at each return to a connected network.
constexpr auto returnFor = std::chrono::minutes(10);
// Without NetworkManager to say when the network is back, it is tried again this often.
constexpr auto retryEvery = std::chrono::seconds(15);

int exitCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

// ssh's words for a login refused or a host key not trusted: trying again would only ask the
// user again, or cost the account another failed attempt.
bool loginRefused(const std::string& reason)
{
    for (const char* words : {"Permission denied", "Too many authentication failures",
                              "Host key verification failed"}) {
        if (reason.find(words) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

int MountClient::run()
{
    std::string why;
    host_ = ClientCommand::host(args_.remote, why);
    if (!host_.empty())
        target_ = MountPoint::resolve(args_.mountPoint, why);
    if (target_.empty())
        return refuse(why);
    if (!prepare() || !startClient())
        return refuse(std::strerror(errno));
    return loop();
}

int MountClient::refuse(const std::string& reason)
{
    out_.write(MountVerdict::failed(host_.empty() ? args_.remote : host_, reason));
    return 1;
}

bool MountClient::prepare()
{
    const std::string config = SshOptions(SshOptions::Places::ofUser()).configFile(args_, host_);
    arguments_ = ClientCommand::clientArguments(args_, config, {"-o", "reconnect"});

    // Opened before the client starts, so that its mount cannot slip by unseen.
    mountinfo_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    sigset_t handled;
    sigemptyset(&handled);
    // SIGCHLD as well: where no pidfd can be had, it is how the client's end is heard.
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signals_ = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    return mountinfo_ >= 0 && signals_ >= 0 && probe_.fd() >= 0;
}

bool MountClient::startClient()
{
    MountTable table;
    int output[2];
    if (!table.read(mountinfo_) || pipe2(output, O_CLOEXEC) != 0)
        return false;
    earlierMounts_.clear();
    for (const auto& entry : table.at(target_))
        earlierMounts_.insert(entry.id);
    if (clientOutput_ >= 0)
        close(clientOutput_);
    clientOutput_ = output[0];
    struct stat pipe;
    outputPipe_ = fstat(clientOutput_, &pipe) == 0 ? pipe.st_ino : 0;
    output_.emplace(out_);
    state_ = State::Waiting;
    ours_.reset();
    lingerUntil_.reset();
    drainUntil_.reset();
    probeReason_.clear();
    // Its standard output too: the application's may be gone, and a write there would end the
    // client (and the volume) with SIGPIPE. A process group of its own holds its ssh too.
    ClientEnvironment environment(environ, ClientEnvironment::besideThisProgram());
    client_.emplace();
    output_->setClaim([this](std::string_view line) { return logins_.take(line, clientPid_); });
    const bool started = client_->start(arguments_, {.output = output[1],
                                                     .errors = output[1],
                                                     .ownGroup = true,
                                                     .environment = environment.get()});
    close(output[1]);
    clientPid_ = client_->pid();
    return started;
}

int MountClient::loop()
{
    for (;;) {
        const bool running = client_ && client_->running();
        const bool watchTable = state_ == State::Waiting || reaper_.wantsTable();
        std::array<pollfd, 7> fds = {{
            {clientOutput_, POLLIN, 0},
            {watchTable ? mountinfo_ : -1, POLLPRI, 0},
            {probe_.fd(), POLLIN, 0},
            {signals_, POLLIN, 0},
            {running ? client_->fd() : -1, POLLIN, 0},
            linkEvents_.pollFd(),
            {linkCheck_.fd(), POLLIN, 0},
        }};
        const int ready = poll(fds.data(), fds.size(), timeout());
        if (ready < 0 && errno == EINTR)
            continue;
        if (fds[0].revents && !output_->readFrom(clientOutput_)) {
            close(clientOutput_);
            clientOutput_ = -1;
        }
        if (fds[1].revents)
            lookForMount();
        if (fds[2].revents)
            takeProbe();
        if (fds[3].revents)
            takeSignals();
        if (fds[4].revents)
            takeClientEnd();
        if (fds[6].revents)
            linkCheck_.takeAnswer();
        takeLinkEvents();
        takeTimeouts();
        if (finished_ && !(client_ && client_->running()) && leftovers_.done() &&
            (clientOutput_ < 0 || !drainUntil_))
            break;
    }
    const int code = client_ && client_->status() ? exitCode(*client_->status()) : 1;
    if (verdict_)
        return code;
    std::string reason = failureReason();
    if (reason.empty())
        reason = "the client exited with status " + std::to_string(code);
    out_.write(MountVerdict::failed(host_, reason));
    return code == 0 ? 1 : code;
}

// The earliest of the deadlines that are armed, for poll.
int MountClient::timeout() const
{
    const bool running = client_ && client_->running();
    int result = -1;
    for (const int wait :
         {PollTimeout::until(lingerUntil_), PollTimeout::until(drainUntil_),
          client_ ? client_->timeout() : -1, state_ == State::Confirmed ? reaper_.timeout() : -1,
          linkEvents_.timeout(), running ? linkCheck_.timeout() : -1, leftovers_.timeout(),
          state_ == State::Returning ? PollTimeout::until(giveUpAt_) : -1,
          state_ == State::Returning ? PollTimeout::until(retryAt_) : -1}) {
        if (wait >= 0 && (result < 0 || wait < result))
            result = wait;
    }
    return result;
}

void MountClient::takeTimeouts()
{
    const auto now = Clock::now();
    const bool running = client_ && client_->running();
    if (lingerUntil_ && now >= *lingerUntil_) {
        lingerUntil_.reset();
        client_->stop();
    }
    if (drainUntil_ && now >= *drainUntil_)
        drainUntil_.reset();
    if (state_ == State::Confirmed && running && reaper_.due())
        client_->stop();
    if (client_)
        client_->due();
    leftovers_.due();
    if (state_ == State::Confirmed && running &&
        linkCheck_.expired() == LinkCheck::Outcome::NoAnswer)
        note("nothing came over its link within " + std::to_string(linkCheck_.bound().count()) +
             " ms after a network change, so its connection is ended; the next access "
             "connects again");
    if (state_ == State::Returning && !running && giveUpAt_ && now >= *giveUpAt_)
        giveUp("the network did not come back");
}

void MountClient::takeLinkEvents()
{
    for (const LinkEvents::Event event : linkEvents_.take()) {
        switch (event) {
        case LinkEvents::Event::Sleeping:
            letGo();
            break;
        case LinkEvents::Event::Woke:
            if (state_ == State::Asleep) {
                state_ = State::Returning;
                giveUpAt_ = Clock::now() + returnFor;
            }
            break;
        case LinkEvents::Event::Connected:
            waitForNetwork_ = false;
            if (state_ == State::Confirmed)
                checkLink();
            break;
        }
    }
    if (state_ == State::Returning)
        mountAgain();
}

// A network change may have left the connection dead without a word.
void MountClient::checkLink()
{
    if (!client_ || !client_->running() || !reaper_.wantsTable())
        return;
    if (linkCheck_.start(target_, ours_->id, clientPid_) == LinkCheck::Outcome::AddressGone)
        note("its connection's local address left the machine with a network change, so "
             "the connection is ended; the next access connects again");
}

// Before a sleep: the session is frozen at once, and a process that waits on the volume cannot
// be frozen while the client that would answer it is (the suspend then fails). So the volume's
// FUSE connection is aborted, which fails every request at once, the client and its ssh are
// killed, and logind may go on; after the wake the volume is mounted again.
void MountClient::letGo()
{
    if (client_ && client_->running()) {
        if (ours_)
            FuseConnection::abort(ours_->minor);
        client_->signal(SIGKILL);
        if (verdict_) {
            state_ = State::Asleep;
            note("let go of before the sleep, to be mounted again after the wake");
        } else {
            probeReason_ = "the machine went to sleep during the mount";
        }
    }
    sleepLock_.release();
}

// Once the client that was let go of has ended and the network is back (NetworkManager says
// "connected", or there is none to ask), with the same command line, asking through the askpass
// and the keyring as a mount does.
void MountClient::mountAgain()
{
    if (finished_ || (client_ && client_->running()) || waitForNetwork_ ||
        (retryAt_ && PollTimeout::until(retryAt_) > 0))
        return;
    const LinkEvents::Network network = linkEvents_.network();
    if (network == LinkEvents::Network::Unknown || network == LinkEvents::Network::Down)
        return;
    struct stat st;
    if (stat(args_.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        giveUp("its mount point is gone");
        return;
    }
    retryAt_.reset();
    if (!startClient()) {
        giveUp(std::strerror(errno));
        return;
    }
    sleepLock_.take(linkEvents_.bus());
}

// ssh's reason, else the probe's; empty when neither has one.
std::string MountClient::failureReason() const
{
    const std::string reason = output_->reason();
    return reason.empty() ? probeReason_ : reason;
}

// "sshfs: HOST: text", the host defused: `text` is the adapter's own words, which set off nothing.
void MountClient::note(const std::string& text)
{
    out_.write("sshfs: " + MountVerdict::defuse(host_) + ": " + text);
}

void MountClient::remountFailed()
{
    const std::string reason = failureReason();
    if (loginRefused(reason) || (giveUpAt_ && Clock::now() >= *giveUpAt_)) {
        giveUp(reason);
        return;
    }
    state_ = State::Returning;
    if (linkEvents_.network() == LinkEvents::Network::Absent)
        retryAt_ = Clock::now() + retryEvery;
    else
        waitForNetwork_ = true;
}

void MountClient::giveUp(const std::string& reason)
{
    note("not mounted again after the wake: " + MountVerdict::defuse(reason));
    finish();
}

void MountClient::finish()
{
    finished_ = true;
    sleepLock_.release();
}

void MountClient::lookForMount()
{
    MountTable table;
    if (!table.read(mountinfo_))
        return;
    if (state_ != State::Waiting) {
        const bool mounted = reaper_.wantsTable();
        reaper_.tableChanged(table);
        // Unmounted while a reconnect asks the user (its askpass is up): for a volume that is no
        // more. Requests that wait on the reconnect would hold the client for as long.
        SocketTable sockets;
        if (mounted && !reaper_.wantsTable() && client_->running() && sockets.read() &&
            Transport(clientPid_, sockets).asking())
            client_->stop();
        return;
    }
    for (const auto& entry : table.at(target_)) {
        if (!earlierMounts_.contains(entry.id)) {
            state_ = State::Probing;
            ours_ = entry;
            probe_.start(target_, entry.id);
            return;
        }
    }
}

void MountClient::takeProbe()
{
    const std::optional<MountProbe::Answer> answer = probe_.take();
    if (!answer || state_ != State::Probing)
        return;
    if (answer->result == MountProbe::Result::Answered && client_->running()) {
        state_ = State::Confirmed;
        if (verdict_)
            note("mounted again");
        else
            out_.write(MountVerdict::mounted(host_));
        verdict_ = true;
        giveUpAt_.reset();
        reaper_.watch(ours_->id, ours_->minor);
        if (!std::exchange(busTried_, true))
            linkEvents_.open();
        sleepLock_.take(linkEvents_.bus());
        return;
    }
    state_ = State::Failing;
    lingerUntil_ = Clock::now() + lingerTime;
    if (answer->result == MountProbe::Result::Replaced)
        probeReason_ = "the mount went away";
    else if (answer->error != 0 && probeReason_.empty())
        probeReason_ = std::string("statvfs: ") + std::strerror(answer->error);
}

void MountClient::takeSignals()
{
    signalfd_siginfo info;
    while (read(signals_, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGCHLD) {
            takeClientEnd();
            continue;
        }
        // Passed on, so that the client unmounts before it goes; and ended, should it not.
        stopAsked_ = true;
        if (client_ && client_->running())
            client_->stop(static_cast<int>(info.ssi_signo));
        else
            finish();
    }
}

void MountClient::takeClientEnd()
{
    if (!client_ || !client_->running() || !client_->reap())
        return;
    lingerUntil_.reset();
    drainUntil_ = Clock::now() + drainTime;
    drainOutput();
    detachDeadVolume();
    leftovers_.start(outputPipe_);
    if (stopAsked_ || state_ == State::Confirmed || (!verdict_ && state_ != State::Asleep))
        finish();
    else if (state_ != State::Asleep)
        remountFailed();
}

// What the client and its ssh wrote before the end, read before the end is judged.
void MountClient::drainOutput()
{
    pollfd fd = {clientOutput_, POLLIN, 0};
    while (clientOutput_ >= 0 && poll(&fd, 1, 0) > 0) {
        if (!output_->readFrom(clientOutput_)) {
            close(clientOutput_);
            clientOutput_ = fd.fd = -1;
        }
    }
}

// A client that ends unmounts its volume; one that was killed or crashed leaves it in the table,
// where every access fails with "Transport endpoint is not connected". Only our own mount goes,
// and only while it is on top: another mount on the same folder is someone else's.
void MountClient::detachDeadVolume()
{
    MountTable table;
    if (!table.readSelf())
        return;
    const auto mounts = table.at(target_);
    // A mount made just before the client died, not yet looked at, is the client's too.
    if (!ours_ && !mounts.empty() && !earlierMounts_.contains(mounts.back().id))
        ours_ = mounts.back();
    if (!ours_ || mounts.empty() || mounts.back().id != ours_->id)
        return;
    if (LazyUnmount::run(target_, ours_->type) == 0 && state_ != State::Asleep)
        note("the client ended, its volume is detached");
}
