#include "MountClient.h"

#include "ClientEnvironment.h"
#include "LazyUnmount.h"
#include "MountPoint.h"
#include "PollTimeout.h"
#include "SshOptions.h"
#include "mount/MountVerdict.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// After the client has gone, its ssh may still hold the pipe for a moment.
constexpr auto drainTime = std::chrono::milliseconds(1000);
// A client whose statvfs failed is given this long to go by itself, with ssh's reason.
constexpr auto lingerTime = std::chrono::milliseconds(2000);

int exitCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
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
    if (!start())
        return refuse(std::strerror(errno));
    return loop();
}

int MountClient::refuse(const std::string& reason)
{
    out_.write(MountVerdict::failed(host_.empty() ? args_.remote : host_, reason));
    return 1;
}

bool MountClient::start()
{
    const std::string listed = MountPoint::userFolder() + "/.ssh/config";
    const std::string config = SshOptions::configFile(
        ClientCommand::configFile(args_, access(listed.c_str(), F_OK) == 0 ? listed : ""));
    const std::vector<std::string> arguments =
        ClientCommand::clientArguments(args_, config, {"-o", "reconnect"});

    // Opened before the client starts, so that its mount cannot slip by unseen.
    mountinfo_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MountTable table;
    if (mountinfo_ < 0 || !table.read(mountinfo_))
        return false;
    for (const auto& entry : table.at(target_))
        earlierMounts_.insert(entry.id);

    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signals_ = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    int output[2];
    if (signals_ < 0 || probe_.fd() < 0 || pipe2(output, O_CLOEXEC) != 0)
        return false;
    clientOutput_ = output[0];
    // Its standard output too: the application's may be gone, and a write there would end the
    // client (and the volume) with SIGPIPE. A process group of its own holds its ssh too.
    ClientEnvironment environment(environ, ClientEnvironment::besideThisProgram());
    output_.setClaim([this](std::string_view line) { return logins_.take(line, client_.pid()); });
    const bool started = client_.start(arguments, {.output = output[1],
                                                   .errors = output[1],
                                                   .ownGroup = true,
                                                   .environment = environment.get()});
    close(output[1]);
    return started;
}

int MountClient::loop()
{
    for (;;) {
        const bool watchTable = state_ == State::Waiting || reaper_.wantsTable();
        std::array<pollfd, 7> fds = {{
            {clientOutput_, POLLIN, 0},
            {watchTable ? mountinfo_ : -1, POLLPRI, 0},
            {probe_.fd(), POLLIN, 0},
            {signals_, POLLIN, 0},
            {client_.fd(), POLLIN, 0},
            linkEvents_.pollFd(),
            {linkCheck_.fd(), POLLIN, 0},
        }};
        const int ready = poll(fds.data(), fds.size(), timeout());
        if (ready < 0 && errno == EINTR)
            continue;
        if (fds[0].revents && !output_.readFrom(clientOutput_)) {
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
        if (client_.status() && (clientOutput_ < 0 || !drainUntil_))
            break;
    }
    const int code = exitCode(*client_.status());
    if (state_ == State::Confirmed)
        return code;
    std::string reason = output_.reason();
    if (reason.empty())
        reason = probeReason_;
    if (reason.empty())
        reason = "the client exited with status " + std::to_string(code);
    out_.write(MountVerdict::failed(host_, reason));
    return code == 0 ? 1 : code;
}

// The earliest of the deadlines that are armed, for poll.
int MountClient::timeout() const
{
    int result = -1;
    for (const int wait : {PollTimeout::until(lingerUntil_), PollTimeout::until(drainUntil_),
                           client_.timeout(), state_ == State::Confirmed ? reaper_.timeout() : -1,
                           linkEvents_.timeout(), linkCheck_.timeout()}) {
        if (wait >= 0 && (result < 0 || wait < result))
            result = wait;
    }
    return result;
}

void MountClient::takeTimeouts()
{
    const auto now = ChildProcess::Clock::now();
    if (lingerUntil_ && now >= *lingerUntil_) {
        lingerUntil_.reset();
        client_.stop();
    }
    if (drainUntil_ && now >= *drainUntil_)
        drainUntil_.reset();
    if (state_ == State::Confirmed && client_.running() && reaper_.due())
        client_.stop();
    client_.due();
    if (client_.running() && linkCheck_.expired(client_.pid()))
        out_.write("sshfs: " + MountVerdict::defuse(host_) + ": no answer within a second after " +
                   linkEvent_ + ", so its connection is ended; the next access connects again");
}

// A wake or a network change may have left the connection dead without a word: the link is
// checked while the volume is there.
void MountClient::takeLinkEvents()
{
    const std::optional<std::string> event = linkEvents_.take();
    if (event && reaper_.wantsTable() && client_.running()) {
        linkCheck_.start(target_, ours_->id);
        linkEvent_ = *event;
    }
}

void MountClient::lookForMount()
{
    MountTable table;
    if (!table.read(mountinfo_))
        return;
    if (state_ != State::Waiting) {
        reaper_.tableChanged(table);
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
    if (!answer)
        return;
    if (answer->result == MountProbe::Result::Answered && client_.running()) {
        state_ = State::Confirmed;
        out_.write(MountVerdict::mounted(host_));
        reaper_.watch(ours_->id, ours_->minor);
        linkEvents_.open();
        return;
    }
    state_ = State::Failing;
    lingerUntil_ = ChildProcess::Clock::now() + lingerTime;
    if (answer->result == MountProbe::Result::Replaced)
        probeReason_ = "the mount went away";
    else if (answer->error != 0)
        probeReason_ = std::string("statvfs: ") + std::strerror(answer->error);
}

void MountClient::takeSignals()
{
    // Passed on, so that the client unmounts before it goes; and ended, should it not.
    signalfd_siginfo info;
    while (read(signals_, &info, sizeof info) == sizeof info)
        client_.stop(static_cast<int>(info.ssi_signo));
}

void MountClient::takeClientEnd()
{
    if (!client_.reap())
        return;
    lingerUntil_.reset();
    drainUntil_ = ChildProcess::Clock::now() + drainTime;
    detachDeadVolume();
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
    if (LazyUnmount::run(target_, ours_->type) == 0)
        out_.write("sshfs: " + MountVerdict::defuse(host_) +
                   ": the client ended, its volume is detached");
}
