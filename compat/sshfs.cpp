// The mount client the application runs as "/usr/local/bin/sshfs HOST:/ MOUNTPOINT -o volname=...
// -o volicon=... -o debug". It runs Debian's sshfs in the foreground, forwards its standard error
// line by line, and says in one line of its own whether the volume works: a line containing
// "statfs" once a statvfs on the mount point has answered, or one failure line. It stays for the
// life of the mount and exits with the real client's status.

#include "MountTable.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

[[gnu::used]] static const char signature[] = TOLLVANE_COMPAT_SIGNATURE;

namespace {

constexpr const char* realClient = "/usr/bin/sshfs";
// The application raises one alert for every line holding one of these.
constexpr std::array<std::string_view, 3> failurePhrases = {
    "Connection refused", "remote host has disconnected", "failed"};
constexpr std::string_view confirmation = "statfs";

bool containsFailure(std::string_view line)
{
    return std::any_of(failurePhrases.begin(), failurePhrases.end(),
                       [&](std::string_view phrase) { return line.find(phrase) != line.npos; });
}

struct Arguments
{
    std::vector<std::string> options;
    std::string remote;
    std::string mountPoint;
    std::string error;
};

Arguments parse(int argc, char** argv)
{
    Arguments result;
    std::vector<std::string> operands;
    const auto addOptions = [&](std::string_view list) {
        // volname and volicon mean nothing to Linux's sshfs; their values may hold commas and
        // quotes, so the whole argument goes.
        if (list.starts_with("volname=") || list.starts_with("volicon="))
            return;
        std::size_t start = 0;
        while (start <= list.size()) {
            std::size_t end = std::min(list.find(',', start), list.size());
            const std::string option(list.substr(start, end - start));
            if (!option.empty() && std::find(result.options.begin(), result.options.end(),
                                             option) == result.options.end())
                result.options.push_back(option);
            start = end + 1;
        }
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            operands.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-o") {
            if (++i == argc) {
                result.error = "-o needs an argument";
                return result;
            }
            addOptions(argv[i]);
        } else if (arg.starts_with("-o")) {
            addOptions(arg.substr(2));
        } else if (arg == "-f") {
            // always in the foreground
        } else if (arg == "-d") {
            addOptions("debug");
        } else {
            result.error = "unknown option " + std::string(arg);
            return result;
        }
    }
    if (operands.size() != 2) {
        result.error = "usage: sshfs [-o options] [--] host:[dir] mountpoint";
        return result;
    }
    result.remote = operands[0];
    result.mountPoint = operands[1];
    return result;
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

// One line per write(), so that a reader never gets half a line; after the reader has gone,
// nothing more is written.
class LineWriter
{
public:
    void write(std::string line)
    {
        if (gone_)
            return;
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\n'; }, '?');
        line.push_back('\n');
        std::string_view rest = line;
        while (!rest.empty()) {
            const ssize_t n = ::write(STDERR_FILENO, rest.data(), rest.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                gone_ = true;
                return;
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
    }

private:
    bool gone_ = false;
};

// sshfs's and FUSE's own chatter, never the reason for a failure.
bool isChatter(std::string_view line)
{
    constexpr std::array<std::string_view, 10> prefixes = {"SSHFS version",
                                                           "FUSE library version",
                                                           "using FUSE kernel",
                                                           "executing <",
                                                           "Server version",
                                                           "Extension: ",
                                                           "[",
                                                           "  [",
                                                           "read: ",
                                                           "Warning: Permanently added"};
    return line.find_first_not_of(" \t\r") == line.npos ||
           std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view prefix) { return line.starts_with(prefix); });
}

// The real client's output, cut into lines as it arrives.
class Forwarder
{
public:
    explicit Forwarder(LineWriter& out) : out_(out) {}

    // False at end of file or on a read error.
    bool readFrom(int fd)
    {
        char buffer[8192];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (n <= 0) {
            if (!pending_.empty())
                forward(std::exchange(pending_, {}));
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        for (std::size_t end; (end = pending_.find('\n', start)) != pending_.npos; start = end + 1)
            forward(pending_.substr(start, end - start));
        pending_.erase(0, start);
        if (pending_.size() > 65536)
            forward(std::exchange(pending_, {}));
        return true;
    }

    bool sawFailurePhrase() const { return sawFailurePhrase_; }
    const std::string& reason() const { return reason_; }

private:
    void forward(std::string line)
    {
        if (containsFailure(line))
            sawFailurePhrase_ = true;
        else if (!isChatter(line) && line.find(confirmation) == line.npos)
            reason_ =
                line.substr(0, line.find_last_not_of('\r') + 1); // ssh's own message comes last
        out_.write(std::move(line));
    }

    LineWriter& out_;
    std::string pending_;
    std::string reason_;
    bool sawFailurePhrase_ = false;
};

// Text of ours that names the host, unless the name itself holds a phrase the application reacts
// to.
std::string mention(const std::string& text)
{
    if (containsFailure(text) || text.find(confirmation) != text.npos)
        return "the host";
    return text;
}

// The client as Debian's sshfs wants it: in the foreground, with debug output, its ssh reading
// the configuration the application lists (an absolute path: sshfs changes directory first).
std::vector<std::string> clientArguments(const Arguments& args)
{
    std::vector<std::string> result = {realClient, "-f", "-o", "debug"};
    if (const passwd* user = getpwuid(geteuid())) {
        const std::string config = std::string("/Users/") + user->pw_name + "/.ssh/config";
        struct stat st;
        if (stat(config.c_str(), &st) == 0)
            result.insert(result.end(), {"-F", config});
    }
    for (const std::string& option : args.options) {
        if (option != "debug")
            result.insert(result.end(), {"-o", option});
    }
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

class Adapter
{
public:
    explicit Adapter(Arguments args) : args_(std::move(args)), forwarder_(out_) {}

    int run()
    {
        const std::optional<std::string> host = hostOf(args_.remote);
        if (!host || host->empty())
            return refuse("expected host:[dir]");
        host_ = *host;
        // ssh would read such a name as an option (ProxyCommand runs a command).
        if (host_[0] == '-')
            return refuse("a host name must not begin with \"-\"");
        if (!start())
            return refuse(std::string("cannot run ") + realClient + ": " + std::strerror(errno));
        return loop();
    }

private:
    int refuse(const std::string& reason)
    {
        out_.write("sshfs: mount of " + mention(host_.empty() ? args_.remote : host_) +
                   " failed: " + reason);
        return 1;
    }

    bool start()
    {
        char resolved[PATH_MAX];
        target_ = realpath(args_.mountPoint.c_str(), resolved) ? std::string(resolved)
                                                               : absolute(args_.mountPoint);
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

        const std::vector<std::string> arguments = clientArguments(args_);
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        const int error =
            posix_spawn(&client_, realClient, &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(output[1]);
        errno = error;
        return error == 0;
    }

    static std::string absolute(const std::string& path)
    {
        if (path.starts_with('/'))
            return MountTable::normalise(path);
        char cwd[PATH_MAX];
        return MountTable::normalise(std::string(getcwd(cwd, sizeof cwd) ? cwd : "/") + "/" + path);
    }

    int loop()
    {
        // After the client has gone, its ssh may still hold the pipe for a moment.
        constexpr int drainMilliseconds = 1000;
        // A client whose statvfs failed but which stays is asked to go.
        constexpr int lingerMilliseconds = 2000;
        for (;;) {
            std::array<pollfd, 4> fds = {{
                {clientOutput_, POLLIN, 0},
                {state_ == State::Waiting ? mountinfo_ : -1, POLLPRI, 0},
                {probeResult_, POLLIN, 0},
                {signals_, POLLIN, 0},
            }};
            int timeout = -1;
            if (clientStatus_)
                timeout = drainMilliseconds;
            else if (state_ == State::Failing && !terminated_)
                timeout = lingerMilliseconds;
            const int ready = poll(fds.data(), fds.size(), timeout);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0) {
                if (clientStatus_)
                    break;
                kill(client_, SIGTERM);
                terminated_ = true;
                continue;
            }
            if (fds[0].revents && !forwarder_.readFrom(clientOutput_)) {
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

    void lookForMount()
    {
        MountTable table;
        if (!table.read(mountinfo_))
            return;
        for (const auto& entry : table.at(target_)) {
            if (!earlierMounts_.contains(entry.id)) {
                state_ = State::Probing;
                std::thread(probe, target_, entry.id, probeWrite_).detach();
                return;
            }
        }
    }

    void takeProbe()
    {
        Probe answer;
        if (read(probeResult_, &answer, sizeof answer) != sizeof answer)
            return;
        if (answer.result == Probe::Answered && !clientStatus_) {
            state_ = State::Confirmed;
            out_.write("sshfs: statfs on " + target_ + " answered: mounted");
            return;
        }
        state_ = State::Failing;
        if (answer.result == Probe::Replaced)
            probeReason_ = "the mount went away";
        else if (answer.error != 0)
            probeReason_ = std::string("statvfs: ") + std::strerror(answer.error);
    }

    void takeSignals()
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
    void closeFailure()
    {
        const std::string who = mention(host_);
        if (forwarder_.sawFailurePhrase()) {
            out_.write("sshfs: " + who + ": not mounted");
            return;
        }
        std::string reason = forwarder_.reason();
        if (reason.empty())
            reason = probeReason_;
        if (reason.empty())
            reason = "the client exited with status " + std::to_string(exitCode(*clientStatus_));
        out_.write("sshfs: mount of " + who + " failed: " + reason);
    }

    enum class State { Waiting, Probing, Failing, Confirmed };

    Arguments args_;
    LineWriter out_;
    Forwarder forwarder_;
    std::string host_;
    std::string target_;
    std::set<unsigned long> earlierMounts_;
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

} // namespace

int main(int argc, char** argv)
{
    // A reader of our standard error that goes away must not end us: the volume lives with us.
    signal(SIGPIPE, SIG_IGN);
    Arguments args = parse(argc, argv);
    if (!args.error.empty()) {
        LineWriter().write("sshfs: mount failed: " + args.error);
        return 1;
    }
    return Adapter(std::move(args)).run();
}
