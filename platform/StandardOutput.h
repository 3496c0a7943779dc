#pragma once

#include <QString>

// The application's standard output, where the commands' standard error is echoed.
class StandardOutput
{
public:
    virtual ~StandardOutput() = default;
    // Writes the line and a line feed in one piece; safe from any thread. A closed or broken
    // output is ignored.
    virtual void writeLine(const QString& line);
};
