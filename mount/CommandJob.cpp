#include "mount/CommandJob.h"

#include "mount/CommandLine.h"

using namespace Qt::StringLiterals;

CommandJob::CommandJob(std::shared_ptr<const Tollvane::Context> context, bool mount,
                       std::shared_ptr<SSHFSServer> server, bool handling)
    : context_(std::move(context)), mount_(mount), server_(std::move(server)), handling_(handling)
{}

void CommandJob::run()
{
    const QString line = mount_ ? CommandLine::mount(*server_) : CommandLine::unmount(*server_);
    context_->platform.processRunner->run(
        u"/bin/bash"_s, {u"-c"_s, line},
        [this](const QByteArray& chunk) { readErrorOutput(chunk); });
    commandTerminated();
}

void CommandJob::readErrorOutput(const QByteArray& chunk)
{
    // The pipe is read for as long as the process runs, also after the watch has ended, so that
    // a client that keeps writing never stalls; what it writes is still echoed.
    const ErrorWatch::Reading reading = watch_.read(chunk);
    for (const QString& line : reading.lines)
        context_->platform.standardOutput->writeLine(line);
    for (const ErrorWatch::Verdict verdict : reading.verdicts) {
        if (verdict == ErrorWatch::Verdict::Confirmed) {
            onMain([server = server_](Tollvane&) {
                server->handling = false;
                Tollvane::postReloadServers();
            });
        } else if (mount_) {
            onMain([server = server_](Tollvane& coordinator) {
                server->showConnectionError(coordinator);
            });
        }
    }
}

void CommandJob::commandTerminated()
{
    if (mount_ && !watch_.decided()) {
        // The client ended, or never started, before the mount was confirmed or refused: that is
        // a failed connection, or the row would stay busy for good.
        onMain([server = server_](Tollvane& coordinator) {
            server->showConnectionError(coordinator);
        });
    } else if (!mount_ && handling_) {
        onMain([server = server_](Tollvane& coordinator) { coordinator.finishUnmount(server); });
    }
}

void CommandJob::onMain(std::function<void(Tollvane&)> step)
{
    context_->platform.mainQueue->async([context = context_, step = std::move(step)] {
        if (Tollvane* coordinator = context->owner.data())
            step(*coordinator);
    });
}
