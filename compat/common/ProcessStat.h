#pragma once

#include <string>

#include <sys/types.h>

// What /proc/PID/stat says of a process. Its command name, in parentheses, may hold blanks and
// parentheses itself, so the fields are counted after the last ')'.
class ProcessStat
{
public:
    // Field `number` as proc(5) counts them (5: the process group, 22: the start time), from 3
    // on; empty when the process is gone.
    static std::string field(pid_t pid, int number);
};
