#pragma once

#include "mount/ErrorWatch.h"
#include "mount/Tollvane.h"

#include <functional>
#include <memory>

// One mount or unmount: runs the command line through "/bin/bash -c" on the calling background
// thread, echoes and watches its standard error, and reports back only through steps queued on
// the main queue.
class CommandJob
{
public:
    CommandJob(std::shared_ptr<const Tollvane::Context> context, bool mount,
               std::shared_ptr<SSHFSServer> server, bool handling);

    // Returns when the process has exited (at once when it could not be started).
    void run();

private:
    void readErrorOutput(const QByteArray& chunk);
    void commandTerminated();
    void onMain(std::function<void(Tollvane&)> step);

    std::shared_ptr<const Tollvane::Context> context_;
    bool mount_;
    std::shared_ptr<SSHFSServer> server_;
    bool handling_;
    ErrorWatch watch_;
};
