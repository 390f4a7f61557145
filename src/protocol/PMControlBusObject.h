// The object exported at /com/corvane/pellmere: the D-Bus face of PMControlServer, turning
// bus calls into calls of the server and transport failures into D-Bus errors.
//
// Main thread, owned by its PMControlServer.
#pragma once

#include <QDBusContext>
#include <QObject>

namespace protocol {

class PMControlServer;

class PMControlBusObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.corvane.pellmere.Control")
public:
    explicit PMControlBusObject(PMControlServer &server);

public Q_SLOTS:
    Q_SCRIPTABLE QByteArray HandleEvent(const QByteArray &event);
    Q_SCRIPTABLE Q_NOREPLY void PostEvent(const QByteArray &event);
    Q_SCRIPTABLE bool RequestUnmount(const QString &mountPoint, uint &status, QString &message);
    Q_SCRIPTABLE bool ShowLog();
    Q_SCRIPTABLE QStringList OpenPaths(const QStringList &paths);

private:
    PMControlServer &m_server;
};

} // namespace protocol
