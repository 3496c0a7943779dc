#pragma once

#include <string>
#include <vector>

// What the adapter adds to ssh for the application's mounts, unless the user's own configuration
// sets it: a bound on the wait for a host that does not answer (ConnectTimeout=10 covers the TCP
// connect and ssh's greeting; a question the user is still answering is not cut short), and
// keep-alive messages, so that a dead connection is noticed within about 45 s
// (ServerAliveInterval=15, ServerAliveCountMax=3). sshfs itself gets "reconnect".
class SshOptions
{
public:
    // The options for `host`, as ssh reads its configuration (`ssh -G`, with `configFile` unless
    // it is empty): what the user set there wins. None when ssh -G takes more than a few seconds.
    static std::vector<std::string> forHost(const std::string& host, const std::string& configFile);

    // From the output of `ssh -G`.
    static std::vector<std::string> fromEffective(const std::string& settings);
};
