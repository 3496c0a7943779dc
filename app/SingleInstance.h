#pragma once

#include <QObject>
#include <QVariantMap>

#include <functional>

// One instance per user session: the first process owns the session-bus name made from the
// application id and answers org.freedesktop.Application's Activate; a later one hands its
// launcher's activation token to it instead of showing a window. Without a session bus every
// process is on its own.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit SingleInstance(const QString& applicationId, QObject* parent = nullptr);

    // What the launcher gave this process to come to the front with: read it before the
    // application object exists, which takes it out of the environment.
    static QVariantMap launchPlatformData();

    // Asks the bus without waiting on it; `decided` gets true when this process is the one
    // instance, false once the running one has taken over with `platformData`.
    void claim(const QVariantMap& platformData, std::function<void(bool first)> decided);

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(const QVariantMap& platformData);

Q_SIGNALS:
    // The running instance was asked to come to the front; the token lets the desktop allow it.
    void activated(const QString& activationToken, const QString& startupId);

private:
    void handOver(const QVariantMap& platformData);

    QString service_;
    QString path_;
    std::function<void(bool)> decided_;
};
