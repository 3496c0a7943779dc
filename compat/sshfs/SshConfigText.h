#pragma once

#include <optional>
#include <string>
#include <vector>

// The text of the adapter's configuration for ssh: an Include of each of ssh's files, in the
// order ssh reads them, then the adapter's defaults. ssh keeps the first value it reads for each
// setting, so the defaults count only where the files set nothing. They stand under `Host *`,
// or under `Match canonical` when ssh reads its configuration a second time (a final pass, after
// a `Match final` or with CanonicalizeHostname): taken in the first pass, they would win over
// what the files set for that pass. `Match canonical` applies in the final pass alone and does
// not ask for one itself.
class SshConfigText
{
public:
    // Empty when a file cannot be named in an Include so that ssh 9.2 and 10.0 both read that
    // very file.
    static std::optional<std::string> compose(const std::vector<std::string>& files,
                                              bool finalPass);
};
