#pragma once

#include <chrono>
#include <string>
#include <vector>

// Asks ssh itself whether it reads its configuration a second time (a final pass) for one host:
// `ssh -G -v` reads the files, canonicalises the name as the client's ssh will, connects to
// nothing, and says "re-parsing configuration" when it makes that pass (9.2 and 10.0 alike).
// Bounded: a `Match exec` or a slow name lookup must not hold a mount up.
class FinalPassQuery
{
public:
    static constexpr std::chrono::milliseconds bound{3000};

    // `target`: ssh's arguments after its options ([-p PORT] HOST). True unless ssh said within
    // the bound, and with success, that it makes no final pass: then the defaults can only lose
    // to the user's values, never win over them.
    static bool makesOne(const std::string& config, const std::vector<std::string>& target);
};
