#include "Verdict.h"

#include "Phrases.h"

// The fixed words around a name begin with ": " or end with "of ", which no phrase spans.
std::string Verdict::mounted(const std::string& host)
{
    return "sshfs: " + Phrases::defuse(host) + ": statfs answered, mounted";
}

std::string Verdict::failed(const std::string& host, const std::string& reason)
{
    return "sshfs: mount of " + Phrases::defuse(host) + " failed: " + Phrases::defuse(reason);
}
