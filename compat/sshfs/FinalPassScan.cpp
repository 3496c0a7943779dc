#include "FinalPassScan.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>

#include <glob.h>

namespace {

// ssh's own limit on nested Includes (past it, ssh gives up on the configuration).
constexpr int deepest = 16;

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

} // namespace

bool FinalPassScan::maybe(const std::vector<std::string>& files)
{
    return std::any_of(files.begin(), files.end(),
                       [](const std::string& file) { return maybeIn(file, 0); });
}

bool FinalPassScan::maybeIn(const std::string& file, int depth)
{
    if (depth > deepest)
        return true;
    errno = 0;
    std::ifstream in(file);
    if (!in)
        return errno != ENOENT; // ssh passes over a missing file
    for (std::string line; std::getline(in, line);) {
        line.erase(line.find_last_not_of(" \t\r\n\f") + 1);
        const std::string lower = lowered(line);
        if (lower.find("final") != lower.npos || lower.find("canonicalizehostname") != lower.npos)
            return true;
        // The keyword ends at a blank or an '=', as ssh reads it, which drops quotes around it.
        const std::size_t start = std::min(lower.find_first_not_of(" \t"), lower.size());
        const std::size_t end = std::min(lower.find_first_of(" \t=", start), lower.size());
        std::string keyword = lower.substr(start, end - start);
        std::erase(keyword, '"');
        if (keyword == "include" && maybeThrough(line.substr(end), depth))
            return true;
    }
    return false;
}

// `arguments`: what follows Include on its line.
bool FinalPassScan::maybeThrough(const std::string& arguments, int depth)
{
    std::size_t at = std::min(arguments.find_first_not_of(" \t"), arguments.size());
    if (arguments.compare(at, 1, "=") == 0)
        ++at;
    while ((at = arguments.find_first_not_of(" \t", at)) != arguments.npos) {
        const std::size_t end = std::min(arguments.find_first_of(" \t", at), arguments.size());
        const std::string word = arguments.substr(at, end - at);
        at = end;
        if (word.starts_with('#'))
            break;
        // Quotes and escapes are read otherwise, and 10.0 expands %tokens and ${VARIABLES}.
        if (word.find_first_of("\"'\\%$") != word.npos)
            return true;
        // A file of the user's: a relative path lives in ~/.ssh, and glob() expands '~'.
        const std::string path =
            word.starts_with('/') || word.starts_with('~') ? word : "~/.ssh/" + word;
        glob_t found;
        const int result = glob(path.c_str(), GLOB_TILDE, nullptr, &found);
        bool maybe = result != 0 && result != GLOB_NOMATCH;
        for (std::size_t i = 0; result == 0 && !maybe && i < found.gl_pathc; ++i)
            maybe = maybeIn(found.gl_pathv[i], depth + 1);
        if (result == 0)
            globfree(&found);
        if (maybe)
            return true;
    }
    return false;
}
