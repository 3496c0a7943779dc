#pragma once

#include <memory>

class ModalAlert;
class SSHFSServer;

// What a host entry asks of the coordinator of its mounts after a failed connection: the
// unmount request and the alert. The coordinator implements it, so that the catalogue knows
// nothing of how mounts are run.
class MountRequests
{
public:
    virtual void scheduleCommand(std::shared_ptr<SSHFSServer> server, bool mount,
                                 bool handling) = 0;
    virtual ModalAlert& alert() const = 0;

protected:
    ~MountRequests() = default;
};
