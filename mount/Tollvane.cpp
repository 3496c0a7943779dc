#include "mount/Tollvane.h"

#include "mount/CommandJob.h"
#include "platform/NotificationCenter.h"
#include "platform/StrictUtf8.h"
#include "platform/UserAccount.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

using namespace Qt::StringLiterals;

Tollvane& Tollvane::shared()
{
    // A function-local static is the one-time guard: concurrent first accesses make one.
    static Tollvane* const instance = new Tollvane(configurationPath());
    return *instance;
}

QString Tollvane::configurationPath()
{
    return UserAccount::userFolder() + "/.ssh/config"_L1;
}

Tollvane::Tollvane(const QString& file, Platform platform, QObject* parent)
    : QObject(parent), file(file)
{
    context_ = std::make_shared<const Context>(Context{std::move(platform), this});
    if (auto* app = QCoreApplication::instance(); app && !parent && thread() != app->thread())
        moveToThread(app->thread());
    loadConfig();
}

Tollvane::~Tollvane() = default;

void Tollvane::setAlert(std::shared_ptr<ModalAlert> alert)
{
    // Running jobs keep the context they started with; they reach the alert through this one.
    Platform platform = context_->platform;
    platform.alert = std::move(alert);
    context_ = std::make_shared<const Context>(Context{std::move(platform), this});
}

void Tollvane::postReloadServers()
{
    NotificationCenter::defaultCenter().postNotificationName(reloadServers);
}

void Tollvane::loadConfig()
{
    QFile input(file);
    if (file.isEmpty() || !input.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return;
    const std::optional<QString> text = StrictUtf8::decode(bytes);
    if (!text)
        return;
    auto parsed = std::make_shared<SSHFSConfig>(*text);
    parsed->parseServers();
    config = std::move(parsed);
    postReloadServers();
}

void Tollvane::scheduleCommand(std::shared_ptr<SSHFSServer> server, bool mount, bool handling)
{
    if (handling)
        server->handling = true;
    postReloadServers();

    // A mount must not start while an unmount of the same mount point queued before it still
    // runs, or the unmount could take the new volume down. Nothing else is ordered.
    auto& pending = unmounts_[server->path];
    std::erase_if(pending, [](const std::shared_future<void>& done) {
        return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    std::vector<std::shared_future<void>> before;
    std::shared_ptr<std::promise<void>> finished;
    if (mount) {
        before = pending;
    } else {
        finished = std::make_shared<std::promise<void>>();
        pending.push_back(finished->get_future().share());
    }
    if (pending.empty())
        unmounts_.remove(server->path);

    context_->platform.backgroundQueue->async(
        [context = context_, server, mount, handling, before = std::move(before), finished] {
            for (const auto& unmount : before)
                unmount.wait();
            runCommand(context, mount, server, handling);
            if (finished)
                finished->set_value();
        });
}

void Tollvane::runCommand(std::shared_ptr<const Context> context, bool mount,
                          std::shared_ptr<SSHFSServer> server, bool handling)
{
    CommandJob(std::move(context), mount, std::move(server), handling).run();
}

void Tollvane::finishUnmount(std::shared_ptr<SSHFSServer> server)
{
    server->removeMountPoint();
    server->handling = false;
    postReloadServers();
}
