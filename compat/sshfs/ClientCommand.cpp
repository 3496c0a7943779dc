#include "ClientCommand.h"

#include <algorithm>

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

} // namespace

bool ClientCommand::isApplicationCall(const std::vector<std::string_view>& arguments)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        if (arg == "--")
            return false;
        if ((arg == "-o" && i + 1 < arguments.size() && isVolumeOption(arguments[++i])) ||
            (arg.starts_with("-o") && arg.size() > 2 && isVolumeOption(arg.substr(2))))
            return true;
    }
    return false;
}

std::string ClientCommand::parse(const std::vector<std::string_view>& arguments, Request& result)
{
    std::vector<std::string> operands;
    const auto addOptions = [&](std::string_view list) {
        std::size_t start = 0;
        while (start <= list.size()) {
            // volname and volicon mean nothing to Linux's sshfs; their values may hold commas
            // and quotes, so each takes the rest of its argument with it.
            const std::string_view rest = list.substr(start);
            if (rest.starts_with("volname=") || rest.starts_with("volicon="))
                return;
            std::size_t end = std::min(list.find(',', start), list.size());
            const std::string option(list.substr(start, end - start));
            if (!option.empty() && std::find(result.options.begin(), result.options.end(),
                                             option) == result.options.end())
                result.options.push_back(option);
            start = end + 1;
        }
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            operands.emplace_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-o" || arg == "-p" || arg == "-F") {
            if (++i == arguments.size() || (arg == "-F" && arguments[i].empty())) // as ssh
                return std::string(arg) + " needs an argument";
            if (arg == "-o")
                addOptions(arguments[i]);
            else
                result.passed.insert(result.passed.end(),
                                     {std::string(arg), std::string(arguments[i])});
        } else if (arg.starts_with("-o")) {
            addOptions(arg.substr(2));
        } else if (arg == "-f" || arg == "-d") {
            // always in the foreground; debug output is asked of us, not of the client
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

std::string ClientCommand::host(std::string_view remote, std::string& why)
{
    std::string host;
    std::size_t i = 0;
    for (; i < remote.size() && remote[i] != ':'; ++i) {
        if (remote[i] != '[') {
            host.push_back(remote[i]);
            continue;
        }
        const std::size_t close = remote.find(']', i);
        if (close == remote.npos)
            break;
        host.append(remote.substr(i + 1, close - i - 1));
        i = close;
    }
    const bool whole = i < remote.size() && remote[i] == ':';
    if (!whole || host.empty())
        why = "expected host:[dir]";
    else if (host[0] == '-') // ssh would read it as an option (ProxyCommand runs a command)
        why = "a host name must not begin with \"-\"";
    else
        return host;
    return {};
}

const std::string* ClientCommand::givenConfig(const Request& request)
{
    const auto given = std::find(request.passed.begin(), request.passed.end(), "-F");
    return given == request.passed.end() || given + 1 == request.passed.end() ? nullptr
                                                                              : &*(given + 1);
}

std::vector<std::string> ClientCommand::clientArguments(const Request& request,
                                                        const std::string& config,
                                                        const std::vector<std::string>& added)
{
    std::vector<std::string> result = {realClient, "-f"};
    if (!config.empty())
        result.insert(result.end(), {"-F", config});
    result.insert(result.end(), added.begin(), added.end());
    for (const std::string& option : request.options) {
        if (option != "debug" && option != "sshfs_debug")
            result.insert(result.end(), {"-o", option});
    }
    // `config` stands for a -F given (it includes it).
    const std::string* given = givenConfig(request);
    for (const std::string& argument : request.passed) {
        if (!given || (&argument != given - 1 && &argument != given))
            result.push_back(argument);
    }
    result.insert(result.end(), {"--", request.remote, request.mountPoint});
    return result;
}
