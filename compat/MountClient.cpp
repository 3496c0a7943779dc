#include "MountClient.h"

#include "AskpassEnvironment.h"
#include "MountPoint.h"
#include "SshOptions.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Text of ours that names the host, unless the name itself holds a phrase the application reacts
// to.
std::string mention(const std::string& text)
{
    if (ClientOutput::setsOffAlert(text) || ClientOutput::confirms(text))
        return "the host";
    return text;
}

// The configuration the client's ssh reads: one given on the command line, or else the one the
// application lists (an absolute path: sshfs changes directory first); empty for ssh's own.
std::string configFile(const MountClient::Request& args)
{
    const auto given = std::find(args.passed.begin(), args.passed.end(), "-F");
    if (given != args.passed.end())
        return given + 1 == args.passed.end() ? std::string() : *(given + 1);
    const std::string listed = MountPoint::userFolder() + "/.ssh/config";
    struct stat st;
    return stat(listed.c_str(), &st) == 0 ? listed : std::string();
}

// The client as Debian's sshfs wants it: in the foreground, with debug output, its ssh reading
// the configuration the application lists, with what the adapter adds to it.
std::vector<std::string> clientArguments(const MountClient::Request& args, const std::string& host)
{
    std::vector<std::string> result = {MountClient::realClient, "-f", "-o", "debug"};
    const std::string config = configFile(args);
    if (!config.empty() &&
        std::find(args.passed.begin(), args.passed.end(), "-F") == args.passed.end())
        result.insert(result.end(), {"-F", config});
    const std::vector<std::string> added = SshOptions::forHost(host, config);
    result.insert(result.end(), added.begin(), added.end());
    for (const std::string& option : args.options) {
        if (option != "debug")
            result.insert(result.end(), {"-o", option});
    }
    result.insert(result.end(), args.passed.begin(), args.passed.end());
    result.insert(result.end(), {"--", args.remote, args.mountPoint});
    return result;
}

// What the statvfs thread found.
struct Probe
{
    enum Result : int { Answered, Failed, Replaced } result;
    int error;
};

// Runs in its own thread: statvfs blocks until the connection is up. The mount is pinned
// through a descriptor first, so the answer can only come from the new mount and never from
// the directory beneath it once a failed client has gone.
void probe(std::string target, unsigned long mountId, int resultFd)
{
    Probe answer{Probe::Failed, 0};
    const int fd = open(target.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct statx stx = {};
    struct statvfs st;
    if (fd < 0) {
        answer.error = errno;
    } else if (statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &stx) == 0 &&
               (stx.stx_mask & STATX_MNT_ID) && stx.stx_mnt_id != mountId) {
        answer.result = Probe::Replaced;
    } else if (fstatvfs(fd, &st) == 0) {
        answer.result = Probe::Answered;
    } else {
        answer.error = errno;
    }
    if (fd >= 0)
        close(fd);
    while (write(resultFd, &answer, sizeof answer) < 0 && errno == EINTR) {
    }
}

int exitCode(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

// The host the real client hands to ssh: up to the first colon outside [...], brackets dropped.
std::optional<std::string> hostOf(std::string_view remote)
{
    std::string host;
    for (std::size_t i = 0; i < remote.size() && remote[i] != ':'; ++i) {
        if (remote[i] != '[') {
            host.push_back(remote[i]);
            continue;
        }
        const std::size_t close = remote.find(']', i);
        if (close == remote.npos)
            return std::nullopt;
        host.append(remote.substr(i + 1, close - i - 1));
        i = close;
    }
    if (remote.find(':') == remote.npos)
        return std::nullopt;
    return host;
}

} // namespace

int MountClient::run()
{
    const std::optional<std::string> host = hostOf(args_.remote);
    if (!host || host->empty())
        return refuse("expected host:[dir]");
    host_ = *host;
    // ssh would read such a name as an option (ProxyCommand runs a command).
    if (host_[0] == '-')
        return refuse("a host name must not begin with \"-\"");
    std::string why;
    target_ = MountPoint::resolve(args_.mountPoint, why);
    if (target_.empty())
        return refuse(why);
    if (!start())
        return refuse(std::string("cannot run ") + realClient + ": " + std::strerror(errno));
    return loop();
}

int MountClient::refuse(const std::string& reason)
{
    out_.write("sshfs: mount of " + mention(host_.empty() ? args_.remote : host_) +
               " failed: " + reason);
    return 1;
}

bool MountClient::start()
{
    // Opened before the client starts, so that its mount cannot slip by unseen.
    mountinfo_ = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    MountTable table;
    if (mountinfo_ >= 0 && table.read(mountinfo_)) {
        for (const auto& entry : table.at(target_))
            earlierMounts_.insert(entry.id);
    }

    sigset_t handled;
    sigemptyset(&handled);
    for (int sig : {SIGCHLD, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&handled, sig);
    sigprocmask(SIG_BLOCK, &handled, nullptr);
    signals_ = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);

    int output[2];
    int probe[2];
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(probe, O_CLOEXEC) != 0)
        return false;
    clientOutput_ = output[0];
    probeResult_ = probe[0];
    probeWrite_ = probe[1];

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

    const std::vector<std::string> arguments = clientArguments(args_, host_);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    AskpassEnvironment environment(environ, AskpassEnvironment::besideThisProgram());
    const int error = posix_spawn(&client_, MountClient::realClient, &actions, &attributes,
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
            {probeResult_, POLLIN, 0},
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
    if (state_ == State::Confirmed)
        return exitCode(*clientStatus_);
    closeFailure();
    const int code = exitCode(*clientStatus_);
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
            probed_ = entry;
            std::thread(probe, target_, entry.id, probeWrite_).detach();
            return;
        }
    }
}

void MountClient::takeProbe()
{
    Probe answer;
    if (read(probeResult_, &answer, sizeof answer) != sizeof answer)
        return;
    if (answer.result == Probe::Answered && !clientStatus_) {
        state_ = State::Confirmed;
        out_.write("sshfs: statfs on " + target_ + " answered: mounted");
        reaper_.watch(probed_.id, probed_.minor);
        return;
    }
    state_ = State::Failing;
    if (answer.result == Probe::Replaced)
        probeReason_ = "the mount went away";
    else if (answer.error != 0)
        probeReason_ = std::string("statvfs: ") + std::strerror(answer.error);
}

void MountClient::takeSignals()
{
    signalfd_siginfo info;
    while (read(signals_, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo != SIGCHLD) {
            // Passed on, so that the client unmounts before it goes.
            kill(client_, static_cast<int>(info.ssi_signo));
            continue;
        }
        int status = 0;
        if (!clientStatus_ && waitpid(client_, &status, WNOHANG) == client_)
            clientStatus_ = status;
    }
}

// Exactly one alert per failed connection: when a forwarded line already set one off, the
// closing line names no phrase.
void MountClient::closeFailure()
{
    const std::string who = mention(host_);
    if (output_.sawFailurePhrase()) {
        out_.write("sshfs: " + who + ": not mounted");
        return;
    }
    std::string reason = output_.reason();
    if (reason.empty())
        reason = probeReason_;
    if (reason.empty())
        reason = "the client exited with status " + std::to_string(exitCode(*clientStatus_));
    out_.write("sshfs: mount of " + who + " failed: " + reason);
}
