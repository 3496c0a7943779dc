#include "SshConfigText.h"

std::optional<std::string> SshConfigText::compose(const std::vector<std::string>& files,
                                                  bool finalPass)
{
    std::string text;
    for (const std::string& file : files) {
        // Between quotes, blanks and '#' are the path's own. Both releases take backslashes and
        // quotes as escapes and run the path through glob(); 10.0 also expands %tokens and
        // ${VARIABLES}; a relative path or '~' is anchored elsewhere.
        if (!file.starts_with('/') || file.find_first_of("\"'\\%$*?[\n") != std::string::npos)
            return std::nullopt;
        text += "Include \"" + file + "\"\n";
    }
    return text + (finalPass ? "Match canonical\n" : "Host *\n") +
           "    ConnectTimeout 10\n    ServerAliveInterval 5\n"
           "    LogVerbose sshconnect2.c:ssh_userauth2():*\n";
}
