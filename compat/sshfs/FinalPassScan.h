#pragma once

#include <string>
#include <vector>

// Whether ssh might read its configuration a second time (a final pass) when its -F includes
// `files`: asked of the files themselves, cheaply and conservatively, so that the common case
// starts no ssh to find out. ssh makes a final pass only after a `Match ... final` line or with
// CanonicalizeHostname on, so any mention of "final" or "canonicalizehostname" in a file ssh
// reaches (through Include, as a file of the user's), or an Include this cannot follow, counts
// as a maybe.
class FinalPassScan
{
public:
    static bool maybe(const std::vector<std::string>& files);

private:
    static bool maybeIn(const std::string& file, int depth);
    static bool maybeThrough(const std::string& arguments, int depth);
};
