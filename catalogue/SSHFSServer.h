#pragma once

#include <QString>

#include <memory>

class Tollvane;

// One host entry: one block of the SSH configuration, shared by the catalogue, the window and the
// jobs that mount or unmount it.
class SSHFSServer : public std::enable_shared_from_this<SSHFSServer>
{
public:
    explicit SSHFSServer(const QString& block);

    QString host;
    QString path;
    bool handling = false; // busy mark; written on the main thread only

    // True when `path` is the root directory of a mounted volume. Answers at once, even when the
    // file system behind the volume has stopped answering.
    bool isMounted();
    // Creates the mount point with its missing parents; failures are dropped.
    void createMountPoint();
    // Removes the mount point and what it holds, but never anything inside a mounted volume.
    void removeMountPoint();
    // After a failed connection: unmount with the busy mark, then the modal "Error" alert.
    void showConnectionError();
    // The same on a given coordinator (the one whose job saw the failure).
    void showConnectionError(Tollvane& coordinator);
};
