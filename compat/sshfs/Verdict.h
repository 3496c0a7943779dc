#pragma once

#include <string>

// The one line per mount that the application acts on: the only text of ours that holds one of
// its phrases (see Phrases), and only one. The names and the reason in it are defused.
class Verdict
{
public:
    static std::string mounted(const std::string& host);
    static std::string failed(const std::string& host, const std::string& reason);
};
