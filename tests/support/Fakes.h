#pragma once

#include "mount/Tollvane.h"
#include "platform/BackgroundQueue.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"

#include <QStringList>

#include <atomic>
#include <mutex>

// Test doubles for the platform services. Each can be told to fail.

// Lines that job threads append and a test reads. They are kept as standard strings, so that the
// two threads never share Qt's implicit data (whose reference counts ThreadSanitizer cannot see).
class LockedLines
{
public:
    void append(const QString& line)
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(line.toStdString());
    }
    QStringList operator()() const
    {
        std::lock_guard lock(mutex_);
        QStringList copy;
        for (const std::string& line : lines_)
            copy << QString::fromStdString(line);
        return copy;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Plays a script instead of starting a process: it gets the command line (the argument after
// "-c") and the chunk handler, and answers whether the process "started". Without a script every
// command starts and ends at once, silent.
class FakeProcessRunner : public ProcessRunner
{
public:
    using Script = std::function<bool(const QString& commandLine, const ChunkHandler& chunks)>;
    Script script;

    bool run(const QString& program, const QStringList& arguments,
             const ChunkHandler& standardError) override
    {
        commandLines.append(arguments.value(1));
        if (program != QLatin1String("/bin/bash") || arguments.value(0) != QLatin1String("-c"))
            return false;
        return script ? script(arguments.value(1), standardError) : true;
    }
    LockedLines commandLines;
};

class RecordingOutput : public StandardOutput
{
public:
    void writeLine(const QString& line) override { lines.append(line); }
    LockedLines lines;
};

class RecordingAlert : public ModalAlert
{
public:
    void runModal(const QString& messageText, const QString& informativeText) override
    {
        if (onShow)
            onShow();
        shown.append(messageText + u'|' + informativeText);
    }
    LockedLines shown;            // "message|informative"
    std::function<void()> onShow; // runs as the alert comes up
};

// Runs `onPost` at each "reloadServers" post while it lives.
class ReloadObserver
{
public:
    explicit ReloadObserver(std::function<void()> onPost)
        : token_(NotificationCenter::defaultCenter().addObserver(Tollvane::reloadServers,
                                                                 std::move(onPost)))
    {}
    ~ReloadObserver() { NotificationCenter::defaultCenter().removeObserver(token_); }

private:
    NotificationCenter::Token token_;
};

// A platform whose processes, alert and output are fakes; the queues are the real ones.
struct FakePlatform
{
    std::shared_ptr<FakeProcessRunner> runner = std::make_shared<FakeProcessRunner>();
    std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
    std::shared_ptr<RecordingAlert> alert = std::make_shared<RecordingAlert>();
    Platform platform() const
    {
        return {std::make_shared<MainQueue>(), std::make_shared<BackgroundQueue>(), runner, alert,
                output};
    }
};
