#pragma once

#include <string>

// The one line per mount that the application acts on. It reads "statfs" as mounted, and
// "Connection refused", "remote host has disconnected" or "failed" as a failed connection, in
// any line of our standard error. So only the verdict may hold one of these phrases, and only
// one: the names in it and every line passed on from the client or ssh are defused first.
class Verdict
{
public:
    // `text` with the first letter of every such phrase in the other case ("connection
    // refused", "Failed"): it still reads as it did, and sets off nothing.
    static std::string defuse(std::string text);

    static std::string mounted(const std::string& host);
    static std::string failed(const std::string& host, const std::string& reason);
};
