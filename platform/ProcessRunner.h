#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Runs one child process from the calling (background) thread. Standard input and output are
// shared with this process, standard error goes into a pipe, and the child gets its own session so
// that a signal to the application never reaches a mount.
class ProcessRunner
{
public:
    using ChunkHandler = std::function<void(const QByteArray& chunk)>;

    virtual ~ProcessRunner() = default;

    // Hands every chunk of the child's standard error to `standardError` as it arrives; an empty
    // chunk means end of file. Returns once the child has exited, or false at once when it could
    // not be started.
    virtual bool run(const QString& program, const QStringList& arguments,
                     const ChunkHandler& standardError);
};
