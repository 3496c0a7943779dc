#pragma once

#include <QString>

#include <memory>

class MountRequests;

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
    // file system behind the volume has stopped answering. A host name with "." or ".." in it
    // has no mount point of its own, and is never mounted. Main thread only.
    bool isMounted();
    // Creates the mount point with its missing parents; failures are dropped. Both act only on a
    // mount point inside the volumes folder: no "." or ".." in the host name, and no symbolic
    // link nor mounted volume on the way down to it.
    void createMountPoint();
    // Removes the mount point and what it holds, but never anything inside a mounted volume.
    void removeMountPoint();
    // After a failed connection: asks the coordinator whose job saw the failure for an unmount
    // with the busy mark, then shows its modal "Error" alert.
    void showConnectionError(MountRequests& coordinator);

private:
    QString volumesFolder() const;

    // The mount point checked and encoded once for the host and path it was made from: the name
    // rule then costs nothing per query, and the state itself is still asked every time.
    QString placeHost_;
    QString placePath_;
    QByteArray place_;
};
