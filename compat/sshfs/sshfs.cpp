// "/usr/local/bin/sshfs". The application's own call, "sshfs HOST:/ MOUNTPOINT -o volname=... -o
// volicon=... -o debug", gets Debian's sshfs underneath and one line that says whether the volume
// works (see MountClient). Every other command line, a person's, a script's or an fstab mount's,
// is Debian's sshfs's alone: it is handed over unchanged.

#include "ClientCommand.h"
#include "LineWriter.h"
#include "MountClient.h"
#include "mount/MountVerdict.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <signal.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (!ClientCommand::isApplicationCall(arguments)) {
        execv(ClientCommand::realClient, argv);
        LineWriter().write(std::string("sshfs: cannot run ") + ClientCommand::realClient + ": " +
                           std::strerror(errno));
        return 1;
    }
    // A reader of our standard error that goes away must not end us: the volume lives with us.
    signal(SIGPIPE, SIG_IGN);
    ClientCommand::Request request;
    if (const std::string error = ClientCommand::parse(arguments, request); !error.empty()) {
        LineWriter().write(MountVerdict::failed("the host", error));
        return 1;
    }
    return MountClient(std::move(request)).run();
}
