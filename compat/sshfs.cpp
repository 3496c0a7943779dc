// The mount client the application runs as "/usr/local/bin/sshfs HOST:/ MOUNTPOINT -o volname=...
// -o volicon=... -o debug": Debian's sshfs underneath, and one line that says whether the volume
// works (see MountClient).

#include "LineWriter.h"
#include "MountClient.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include <signal.h>

[[gnu::used]] static const char signature[] = TOLLVANE_COMPAT_SIGNATURE;

namespace {

// Fills `request`, or answers what is wrong with the command line.
std::string parse(int argc, char** argv, MountClient::Request& result)
{
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
            if (++i == argc)
                return "-o needs an argument";
            addOptions(argv[i]);
        } else if (arg.starts_with("-o")) {
            addOptions(arg.substr(2));
        } else if (arg == "-f") {
            // always in the foreground
        } else if (arg == "-d") {
            addOptions("debug");
        } else {
            return "unknown option " + std::string(arg);
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
    // A reader of our standard error that goes away must not end us: the volume lives with us.
    signal(SIGPIPE, SIG_IGN);
    MountClient::Request request;
    if (const std::string error = parse(argc, argv, request); !error.empty()) {
        LineWriter().write("sshfs: mount failed: " + error);
        return 1;
    }
    return MountClient(std::move(request)).run();
}
