#pragma once

#include <string>

// What the adapter adds to ssh for the application's mounts, unless the user's own configuration
// sets it: a bound on the wait for a host that does not answer (ConnectTimeout 10 covers the TCP
// connect and ssh's greeting; a question the user is still answering is not cut short),
// keep-alive messages, so that a dead connection (a NAT that forgot it, a roaming Wi-Fi) is
// noticed within 15 s (ServerAliveInterval 5, with ssh's ServerAliveCountMax of 3), and a line
// once ssh has logged in, printed whatever its LogLevel (LogVerbose; SshLogins reads it). They
// come in a configuration of the adapter's own, after the user's: ssh keeps the first value it
// reads for each setting, so the user's win without asking ssh first (an `ssh -G` is a whole ssh
// start ahead of the client's own, 5% of a mount on loopback).
class SshOptions
{
public:
    // For ssh's -F: a file that includes `userConfig` (ssh's own files when it is empty) and then
    // sets the defaults, named /proc/PID/fd/N (it lasts as long as this process). `userConfig`
    // itself when no such file can be made or an Include cannot name it.
    static std::string configFile(const std::string& userConfig);
};
