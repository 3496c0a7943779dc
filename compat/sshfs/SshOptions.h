#pragma once

#include "ClientCommand.h"

#include <string>

// What the adapter adds to ssh for the application's mounts, where neither the user's nor the
// system's configuration sets it: a bound on the wait for a host that does not answer
// (ConnectTimeout 10 covers the TCP connect and ssh's greeting; a question the user is still
// answering is not cut short), and keep-alive messages, so that a dead connection (a NAT that
// forgot it, a roaming Wi-Fi) is noticed within 15 s (ServerAliveInterval 5, with ssh's
// ServerAliveCountMax of 3), and a line once ssh has logged in, printed whatever its LogLevel
// (LogVerbose; SshLogins reads it). They come in a configuration of the adapter's own, ssh's -F, which
// first includes the files ssh reads without it: the user's and then the system's, or the one a
// person gave with -F alone (see SshConfigText). Where that cannot be done so that ssh reads those
// files as it would by itself, ssh gets what it would have had without the adapter, and no
// defaults.
class SshOptions
{
public:
    struct Places
    {
        std::string listed;  // the file the application lists: /Users/<login>/.ssh/config
        std::string own;     // ssh's own: .ssh/config in the account's home
        std::string system;  // /etc/ssh/ssh_config
        std::string runtime; // the user's runtime folder, $XDG_RUNTIME_DIR
        static Places ofUser();
    };

    explicit SshOptions(Places places) : places_(std::move(places)) {}

    // The file for the -F of the client's ssh, which connects to `host`; empty for no -F.
    std::string configFile(const ClientCommand::Request& request, const std::string& host) const;

private:
    Places places_;
};
