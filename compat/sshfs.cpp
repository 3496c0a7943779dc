// "/usr/local/bin/sshfs". The application's own call, "sshfs HOST:/ MOUNTPOINT -o volname=... -o
// volicon=... -o debug", gets Debian's sshfs underneath and one line that says whether the volume
// works (see MountClient). Every other command line, a person's, a script's or an fstab mount's,
// is Debian's sshfs's alone: it is handed over unchanged.

#include "LineWriter.h"
#include "MountClient.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <signal.h>
#include <unistd.h>

namespace {

bool isVolumeOption(std::string_view list)
{
    for (const std::string_view name : {"volname=", "volicon="}) {
        const std::size_t at = list.find(name);
        if (at != list.npos && (at == 0 || list[at - 1] == ','))
            return true;
    }
    return false;
}

// The application's shape: its volume options, which Linux's sshfs does not know.
bool isApplicationCall(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--")
            return false;
        if ((arg == "-o" && i + 1 < argc && isVolumeOption(argv[++i])) ||
            (arg.starts_with("-o") && arg.size() > 2 && isVolumeOption(arg.substr(2))))
            return true;
    }
    return false;
}

// Fills `result`, or answers what is wrong with the command line.
std::string parse(int argc, char** argv, MountClient::Request& result)
{
    std::vector<std::string> operands;
    const auto addOptions = [&](std::string_view list) {
        // volname and volicon mean nothing to Linux's sshfs; their values may hold commas and
        // quotes, so the whole argument goes.
        if (isVolumeOption(list))
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
        } else if (arg == "-o" || arg == "-p" || arg == "-F") {
            if (++i == argc)
                return std::string(arg) + " needs an argument";
            if (arg == "-o")
                addOptions(argv[i]);
            else
                result.passed.insert(result.passed.end(), {std::string(arg), argv[i]});
        } else if (arg.starts_with("-o")) {
            addOptions(arg.substr(2));
        } else if (arg == "-f") {
            // always in the foreground
        } else if (arg == "-d") {
            addOptions("debug");
        } else {
            result.passed.emplace_back(arg); // the real client's to judge
        }
    }
    if (operands.size() != 2)
        return "usage: sshfs [-o options] [--] host:[dir] mountpoint";
    result.remote = operands[0];
    result.mountPoint = operands[1];
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    if (!isApplicationCall(argc, argv)) {
        execv(MountClient::realClient, argv);
        LineWriter().write(std::string("sshfs: cannot run ") + MountClient::realClient + ": " +
                           std::strerror(errno));
        return 1;
    }
    // A reader of our standard error that goes away must not end us: the volume lives with us.
    signal(SIGPIPE, SIG_IGN);
    MountClient::Request request;
    if (const std::string error = parse(argc, argv, request); !error.empty()) {
        LineWriter().write("sshfs: mount failed: " + error);
        return 1;
    }
    return MountClient(std::move(request)).run();
}
