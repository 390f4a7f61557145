// Linux host identity, read from procfs, sysfs and /etc.
//
// The primary address is that of the interface carrying the default route, else the first
// physical interface (by name) with a non-zero address. A machine without any (a container,
// a virtual machine without network) uses the first twelve hex digits of /etc/machine-id, so
// every computer still has a stable identity of the same shape.
//
// All files are read below a root folder ("/" in production, a fake tree in tests).
#pragma once

#include "platform/HostIdentity.h"

namespace platform {

class LinuxHostIdentity : public HostIdentity {
public:
    explicit LinuxHostIdentity(QString rootDirectory = QStringLiteral("/"));

    QByteArray primaryMacAddress() const override;
    QString hostName() const override;
    QString machineName() const override;
    QString userShortName() const override;
    uint userId() const override;

private:
    QString path(const QString &relative) const;
    QByteArray addressOfInterface(const QString &name) const;
    QString defaultRouteInterface() const;
    QByteArray machineIdAddress() const;

    QString m_root;
};

} // namespace platform
