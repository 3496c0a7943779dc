#pragma once

#include <string>
#include <vector>

// The environment the real client runs in: the adapter's own, plus tollvane-askpass as ssh's
// SSH_ASKPASS where there is a display to show it on and the user has named no askpass of their
// own. ssh has no terminal here, so without one it could not ask for a password, a passphrase or
// a new host key at all.
class ClientEnvironment
{
public:
    // `base` as `environ`; `askpass` the program to offer, or empty for none.
    ClientEnvironment(char** base, const std::string& askpass);

    // tollvane-askpass beside this program (links resolved), if it is there and executable.
    static std::string besideThisProgram();

    // For exec: `base` itself when nothing is added.
    char** get() { return entries_.empty() ? base_ : pointers_.data(); }

private:
    char** base_;
    std::vector<std::string> entries_;
    std::vector<char*> pointers_;
};
