#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The adapter's command lines, as pure functions: which call is the application's own, what it
// asks for, and the real client's arguments for it.
class ClientCommand
{
public:
    static constexpr const char* realClient = "/usr/bin/sshfs";

    struct Request
    {
        std::vector<std::string> options; // for the real client, without volname/volicon
        std::vector<std::string> passed;  // other options, for the real client as they are
        std::string remote;               // host:dir
        std::string mountPoint;
    };

    // `arguments` without the program's name. The application's call carries its volume options,
    // which Linux's sshfs does not know; every other call goes to the real client unchanged.
    static bool isApplicationCall(const std::vector<std::string_view>& arguments);
    // Fills `result`, or answers what is wrong with the command line.
    static std::string parse(const std::vector<std::string_view>& arguments, Request& result);

    // The host the real client hands to ssh: up to the first colon outside [...], brackets
    // dropped. Empty, with `why` set, for none or one that ssh would take for an option.
    static std::string host(std::string_view remote, std::string& why);
    // The configuration file a person named with -F, if any.
    static const std::string* givenConfig(const Request& request);

    // The real client in the foreground and without debug output (its per-request lines would
    // flood the user's journal and slow the volume), its ssh reading `config` in place of a -F
    // given (none when it is empty), with the adapter's `added` options, then the request's own.
    static std::vector<std::string> clientArguments(const Request& request,
                                                    const std::string& config,
                                                    const std::vector<std::string>& added);
};
