#pragma once

#include <string>

// A folder of the user's alone in the user's runtime folder ($XDG_RUNTIME_DIR), made if need be.
// Other processes of the user's read what is kept there by its path, later (ssh reads its
// configuration again at every reconnect), so the runtime folder and this one must both be
// closed to everyone else: no one else may rename or replace what the path leads to.
class PrivateFolder
{
public:
    // A descriptor of `runtimeFolder`/`name` (made first when `make`), or -1 when either is not
    // a folder of the effective user's, closed to the group and to others, reached without a
    // symbolic link.
    static int open(const std::string& runtimeFolder, const std::string& name, bool make = true);
};
