#pragma once

#include <string>

// Writes whole lines to standard error, one line per write(), so that a reader never gets half a
// line: valid UTF-8 (other bytes as U+FFFD), a line longer than PIPE_BUF cut short. Once the
// reader has gone, nothing more is written (and nothing fails).
class LineWriter
{
public:
    void write(std::string line);

private:
    bool gone_ = false;
};
