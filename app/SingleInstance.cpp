#include "app/SingleInstance.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

constexpr uint kDoNotQueue = 4;   // DBUS_NAME_FLAG_DO_NOT_QUEUE
constexpr uint kPrimaryOwner = 1; // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
constexpr uint kAlreadyOwner = 4; // DBUS_REQUEST_NAME_REPLY_ALREADY_OWNER

// Where no bus is named, libdbus would launch one of its own for the display: that is no session
// to share, and nothing the user's system should see appear.
bool sessionBusNamed()
{
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS") ||
           QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/bus"_L1);
}

} // namespace

SingleInstance::SingleInstance(const QString& applicationId, QObject* parent)
    : QObject(parent), service_(applicationId),
      path_(u'/' + QString(applicationId).replace(u'.', u'/'))
{}

QVariantMap SingleInstance::launchPlatformData()
{
    QVariantMap platformData;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty())
        platformData.insert(u"activation-token"_s, token);
    if (const QString id = qEnvironmentVariable("DESKTOP_STARTUP_ID"); !id.isEmpty())
        platformData.insert(u"desktop-startup-id"_s, id);
    return platformData;
}

void SingleInstance::claim(const QVariantMap& platformData, std::function<void(bool first)> decided)
{
    decided_ = std::move(decided);
    QDBusConnection bus =
        sessionBusNamed() ? QDBusConnection::sessionBus() : QDBusConnection(QString());
    // Ready to answer before the name can lead anyone here.
    if (!bus.isConnected() ||
        !bus.registerObject(path_, this, QDBusConnection::ExportScriptableSlots)) {
        decided_(true);
        return;
    }
    QDBusMessage request =
        QDBusMessage::createMethodCall(u"org.freedesktop.DBus"_s, u"/org/freedesktop/DBus"_s,
                                       u"org.freedesktop.DBus"_s, u"RequestName"_s);
    request << service_ << kDoNotQueue;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, platformData] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError() || reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner) {
            decided_(true);
            return;
        }
        QDBusConnection::sessionBus().unregisterObject(path_);
        handOver(platformData);
    });
}

void SingleInstance::handOver(const QVariantMap& platformData)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        service_, path_, u"org.freedesktop.Application"_s, u"Activate"_s);
    call << platformData;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        // Gone meanwhile: this process is on its own after all.
        decided_(watcher->isError());
    });
}

void SingleInstance::Activate(const QVariantMap& platformData)
{
    Q_EMIT activated(platformData.value(u"activation-token"_s).toString(),
                     platformData.value(u"desktop-startup-id"_s).toString());
}
