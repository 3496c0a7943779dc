#pragma once

#include <string>

// The phrases the application acts on in a command's standard error: "statfs" (a mount works,
// and during an unmount the busy mark goes), "Connection refused", "remote host has
// disconnected" and "failed" (a mount failed). Only the adapter's own verdict may hold one; any
// other text written there, a host name or a path among it, is defused first.
class Phrases
{
public:
    // `text` with the first letter of every such phrase in the other case ("connection
    // refused", "Failed"): it still reads as it did, and sets off nothing.
    static std::string defuse(std::string text);
};
