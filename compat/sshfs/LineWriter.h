#pragma once

#include <string>

#include <unistd.h>

// Writes whole lines to standard error (or `fd`), one line per write(), so that a reader never gets
// half a line: valid UTF-8 (other bytes as U+FFFD), a line longer than PIPE_BUF cut short. Once the
// reader has gone, nothing more is written (and nothing fails).
class LineWriter
{
public:
    explicit LineWriter(int fd = STDERR_FILENO) : fd_(fd) {}

    void write(std::string line);

private:
    const int fd_;
    bool gone_ = false;
};
