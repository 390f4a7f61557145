#include "platform/HostIdentity_linux.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <pwd.h>
#include <unistd.h>

#include <climits>

Q_LOGGING_CATEGORY(lcIdentity, "pellmere.identity")

namespace platform {

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

QByteArray parseMac(const QByteArray &text)
{
    const QByteArray bytes = QByteArray::fromHex(text.trimmed().replace(':', ""));
    if (bytes.size() != 6 || bytes == QByteArray(6, '\0'))
        return {};
    return bytes;
}

} // namespace

QString HostIdentity::formatMacAddress(const QByteArray &address, bool withColons)
{
    if (address.size() != 6)
        return {};
    QStringList parts;
    for (char byte : address)
        parts.append(QStringLiteral("%1").arg(uint(uchar(byte)), 2, 16, QLatin1Char('0')).toUpper());
    return parts.join(withColons ? QStringLiteral(":") : QString());
}

std::unique_ptr<HostIdentity> HostIdentity::create()
{
    return std::make_unique<LinuxHostIdentity>();
}

LinuxHostIdentity::LinuxHostIdentity(QString rootDirectory)
    : m_root(std::move(rootDirectory))
{
}

QString LinuxHostIdentity::path(const QString &relative) const
{
    return QDir::cleanPath(m_root + QLatin1Char('/') + relative);
}

QByteArray LinuxHostIdentity::addressOfInterface(const QString &name) const
{
    return parseMac(readSmallFile(path(QStringLiteral("sys/class/net/%1/address").arg(name))));
}

QString LinuxHostIdentity::defaultRouteInterface() const
{
    // Iface Destination Gateway Flags ... ; the default route has destination 00000000.
    const QList<QByteArray> lines = readSmallFile(path(QStringLiteral("proc/net/route"))).split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() >= 2 && fields.at(1) == "00000000")
            return QString::fromLatin1(fields.at(0));
    }
    return {};
}

QByteArray LinuxHostIdentity::machineIdAddress() const
{
    for (const QString &candidate : { QStringLiteral("etc/machine-id"), QStringLiteral("var/lib/dbus/machine-id") }) {
        const QByteArray id = readSmallFile(path(candidate)).trimmed();
        if (id.size() < 12)
            continue;
        const QByteArray bytes = QByteArray::fromHex(id.left(12));
        if (bytes.size() == 6)
            return bytes;
    }
    return {};
}

QByteArray LinuxHostIdentity::primaryMacAddress() const
{
    const QString routed = defaultRouteInterface();
    if (!routed.isEmpty()) {
        const QByteArray address = addressOfInterface(routed);
        if (!address.isEmpty())
            return address;
    }
    // Physical interfaces have a "device" link; loopback, bridges, veth and tun do not.
    QDir net(path(QStringLiteral("sys/class/net")));
    const QStringList names = net.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString &name : names) {
        if (name == QLatin1String("lo") || !QFileInfo::exists(net.filePath(name + QStringLiteral("/device"))))
            continue;
        const QByteArray address = addressOfInterface(name);
        if (!address.isEmpty())
            return address;
    }
    const QByteArray fallback = machineIdAddress();
    if (fallback.isEmpty())
        qCWarning(lcIdentity) << "no network hardware address and no machine id below" << m_root;
    return fallback;
}

QString LinuxHostIdentity::hostName() const
{
    char buffer[HOST_NAME_MAX + 1] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0 || buffer[0] == '\0')
        return QStringLiteral("Macintosh");
    return QString::fromLocal8Bit(buffer);
}

QString LinuxHostIdentity::machineName() const
{
    // /etc/machine-info holds shell-style assignments: PRETTY_HOSTNAME="Alice's Laptop".
    const QList<QByteArray> lines = readSmallFile(path(QStringLiteral("etc/machine-info"))).split('\n');
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith("PRETTY_HOSTNAME="))
            continue;
        QByteArray value = line.mid(int(sizeof("PRETTY_HOSTNAME=") - 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value.replace("\\\"", "\"");
        if (!value.isEmpty())
            return QString::fromUtf8(value);
    }
    return hostName();
}

QString LinuxHostIdentity::userShortName() const
{
    const passwd *pw = getpwuid(getuid());
    return pw && pw->pw_name ? QString::fromLocal8Bit(pw->pw_name) : QString::number(getuid());
}

uint LinuxHostIdentity::userId() const
{
    return getuid();
}

} // namespace platform
