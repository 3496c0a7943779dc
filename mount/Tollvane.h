#pragma once

#include "catalogue/MountRequests.h"
#include "catalogue/SSHFSConfig.h"
#include "catalogue/SSHFSServer.h"
#include "platform/Platform.h"

#include <QHash>
#include <QLatin1String>
#include <QObject>
#include <QPointer>
#include <QString>

#include <future>
#include <memory>
#include <vector>

class CommandJob;

// The one coordinator of the process: it owns the host catalogue, read once from the user's SSH
// configuration, and runs the mount and unmount jobs. Every change of the host list or of a mount
// state is announced with the notification "reloadServers".
class Tollvane : public QObject, public MountRequests
{
    Q_OBJECT

public:
    static constexpr QLatin1String reloadServers{"reloadServers"};

    // The process-wide coordinator on "/Users/<login>/.ssh/config"; created on first access, on
    // the accessing thread, and never destroyed.
    static Tollvane& shared();
    static QString configurationPath();

    // A coordinator on a file of the caller's choosing, with the given services; it reads the
    // file at once. For tests and tools: the application uses shared().
    explicit Tollvane(const QString& file, Platform platform = Platform::system(),
                      QObject* parent = nullptr);
    ~Tollvane() override;

    std::shared_ptr<SSHFSConfig> config; // null until a load succeeds
    const QString file;

    // Reads `file`; when it exists and is valid UTF-8, parses it, keeps it and posts.
    void loadConfig();

    // Main thread. Marks the host busy when asked, posts "reloadServers", queues the job and
    // returns at once. A mount waits for the unmounts of its mount point queued before it.
    void scheduleCommand(std::shared_ptr<SSHFSServer> server, bool mount, bool handling) override;
    // Main thread, after an unmount that set the busy mark: removes the mount point, clears the
    // mark and posts.
    void finishUnmount(std::shared_ptr<SSHFSServer> server);

    const Platform& platform() const { return context_->platform; }
    ModalAlert& alert() const override { return *context_->platform.alert; }
    // Main thread. Replaces the platform's alert: the window gives the shared coordinator the
    // one it shows.
    void setAlert(std::shared_ptr<ModalAlert> alert);

    static void postReloadServers();

private:
    struct Context
    {
        Platform platform;
        QPointer<Tollvane> owner; // read on the main thread only
    };
    friend class CommandJob;

    // The job, on a background thread: runs the command and watches its standard error until the
    // process has exited. It holds the coordinator's services itself, so that a coordinator that
    // goes (a test's; the application's never does) cannot pull them from under a running job.
    static void runCommand(std::shared_ptr<const Context> context, bool mount,
                           std::shared_ptr<SSHFSServer> server, bool handling);

    std::shared_ptr<const Context> context_;
    // Unmount jobs not known to have ended, by mount point; main thread only.
    QHash<QString, std::vector<std::shared_future<void>>> unmounts_;
};
