#pragma once

// Leaving the process at once, without tearing anything down: the jobs of mounted volumes still
// run on their own threads inside Qt, and must not see its state destroyed under them.
class ProcessExit
{
public:
    // Flushes the C streams and exits with `status`. Under AddressSanitizer the leak check that
    // a normal exit would run comes first, and a leak ends the process with its report instead.
    [[noreturn]] static void now(int status);
};
