#include "MountClient.h"

#include "ClientEnvironment.h"
#include "LazyUnmount.h"
#include "MountPoint.h"
#include "Phrases.h"
#include "SshOptions.h"
#include "Verdict.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

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
    out_.write(Verdict::failed(host_.empty() ? args_.remote : host_, reason));
    return 1;
}

bool MountClient::start()
{
    // Asked first, with our signals as they came: ssh -G must stay stoppable.
    const std::string listed = MountPoint::userFolder() + "/.ssh/config";
    const std::string config =
        ClientCommand::configFile(args_, access(listed.c_str(), F_OK) == 0 ? listed : "");
    const std::vector<std::string> arguments =
        ClientCommand::clientArguments(args_, config, SshOptions::forHost(host_, config));

    // Opened before the client starts, so that its mount cannot slip by unseen.
    mountinfo_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MountTable table;
    if (mountinfo_ < 0 || !table.read(mountinfo_))
        return false;
    for (const auto& entry : table.at(target_))
        earlierMounts_.insert(entry.id);

    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signals_ = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);
    int output[2];
    if (signals_ < 0 || probe_.fd() < 0 || pipe2(output, O_CLOEXEC) != 0)
        return false;
    clientOutput_ = output[0];

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its standard output too: the application's may be gone, and a write there would end
    // the client (and the volume) with SIGPIPE.
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults = handled;
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ClientEnvironment environment(environ, ClientEnvironment::besideThisProgram());
    const int error = posix_spawn(&client_, ClientCommand::realClient, &actions, &attributes,
                                  argv.data(), environment.get());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(output[1]);
    errno = error;
    return error == 0;
}

int MountClient::loop()
{
    // After the client has gone, its ssh may still hold the pipe for a moment.
    constexpr int drainMilliseconds = 1000;
    // A client whose statvfs failed but which stays is asked to go.
    constexpr int lingerMilliseconds = 2000;
    for (;;) {
        const bool watchTable = state_ == State::Waiting || reaper_.wantsTable();
        std::array<pollfd, 4> fds = {{
            {clientOutput_, POLLIN, 0},
            {watchTable ? mountinfo_ : -1, POLLPRI, 0},
            {probe_.fd(), POLLIN, 0},
            {signals_, POLLIN, 0},
        }};
        int timeout = -1;
        if (clientStatus_)
            timeout = drainMilliseconds;
        else if (state_ == State::Failing && !terminated_)
            timeout = lingerMilliseconds;
        else if (state_ == State::Confirmed)
            timeout = reaper_.timeout();
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0 && errno == EINTR)
            continue;
        if (const int signal = clientStatus_ ? 0 : reaper_.due())
            kill(client_, signal);
        if (ready == 0) {
            if (clientStatus_)
                break;
            if (state_ == State::Failing && !terminated_) {
                kill(client_, SIGTERM);
                terminated_ = true;
            }
            continue;
        }
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
        if (clientStatus_ && clientOutput_ < 0)
            break;
    }
    const int code = exitCode(*clientStatus_);
    if (state_ == State::Confirmed)
        return code;
    std::string reason = output_.reason();
    if (reason.empty())
        reason = probeReason_;
    if (reason.empty())
        reason = "the client exited with status " + std::to_string(code);
    out_.write(Verdict::failed(host_, reason));
    return code == 0 ? 1 : code;
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
    if (answer->result == MountProbe::Result::Answered && !clientStatus_) {
        state_ = State::Confirmed;
        out_.write(Verdict::mounted(host_));
        reaper_.watch(ours_->id, ours_->minor);
        return;
    }
    state_ = State::Failing;
    if (answer->result == MountProbe::Result::Replaced)
        probeReason_ = "the mount went away";
    else if (answer->error != 0)
        probeReason_ = std::string("statvfs: ") + std::strerror(answer->error);
}

void MountClient::takeSignals()
{
    signalfd_siginfo info;
    while (read(signals_, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo != SIGCHLD) {
            // Passed on, so that the client unmounts before it goes; once reaped, its PID may be
            // another process's.
            if (!clientStatus_)
                kill(client_, static_cast<int>(info.ssi_signo));
            continue;
        }
        int status = 0;
        if (!clientStatus_ && waitpid(client_, &status, WNOHANG) == client_) {
            clientStatus_ = status;
            detachDeadVolume();
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
    if (LazyUnmount::run(target_, ours_->type) == 0)
        out_.write("sshfs: " + Phrases::defuse(host_) +
                   ": the client ended, its volume is detached");
}
