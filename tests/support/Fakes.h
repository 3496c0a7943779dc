#pragma once

#include "platform/DispatchQueue.h"
#include "platform/ModalAlert.h"
#include "platform/NotificationCenter.h"
#include "platform/Platform.h"
#include "platform/ProcessRunner.h"
#include "platform/StandardOutput.h"

#include <QStringList>

#include <mutex>

// Test doubles for the platform services. Each can be told to fail.

// A copy that shares no data with the original, so that a test thread and a job thread never
// touch the same reference counts.
QStringList deepCopy(const QStringList& list);

// Runs the work on the calling thread, at once.
class InlineQueue : public DispatchQueue
{
public:
    void async(std::function<void()> work) override { work(); }
};

// Plays a script instead of starting a process. The script gets the command line (the argument
// after "-c") and the chunk handler, and answers whether the process "started".
class FakeProcessRunner : public ProcessRunner
{
public:
    using Script = std::function<bool(const QString& commandLine, const ChunkHandler& chunks)>;
    explicit FakeProcessRunner(Script script = {}) : script_(std::move(script)) {}

    bool run(const QString& program, const QStringList& arguments,
             const ChunkHandler& standardError) override;
    QStringList commandLines() const;

private:
    Script script_;
    mutable std::mutex mutex_;
    QStringList commandLines_;
};

class RecordingOutput : public StandardOutput
{
public:
    void writeLine(const QString& line) override;
    QStringList lines() const;
    qsizetype count() const;

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

class RecordingAlert : public ModalAlert
{
public:
    void runModal(const QString& messageText, const QString& informativeText) override;
    QStringList shown() const;    // "message|informative"
    std::function<void()> onShow; // runs as the alert comes up

private:
    mutable std::mutex mutex_;
    QStringList shown_;
};

// Counts "reloadServers" posts while it lives.
class ReloadCounter
{
public:
    ReloadCounter();
    ~ReloadCounter();
    int count() const;

private:
    NotificationCenter::Token token_;
    mutable std::mutex mutex_;
    int count_ = 0;
};

// A platform whose processes, alert and output are fakes; the queues are the real ones unless
// given.
struct FakePlatform
{
    std::shared_ptr<FakeProcessRunner> runner = std::make_shared<FakeProcessRunner>();
    std::shared_ptr<RecordingOutput> output = std::make_shared<RecordingOutput>();
    std::shared_ptr<RecordingAlert> alert = std::make_shared<RecordingAlert>();
    Platform platform(std::shared_ptr<DispatchQueue> background = {}) const;
};
