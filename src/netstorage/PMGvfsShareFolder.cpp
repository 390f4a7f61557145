#include "PMGvfsShareFolder.h"

#include <QByteArray>
#include <QStringList>
#include <QUrl>

std::optional<PMGvfsShareFolder> PMGvfsShareFolder::parse(const QString &folderName)
{
    static const QString kind = QStringLiteral("smb-share:");
    if (!folderName.startsWith(kind))
        return std::nullopt;
    PMGvfsShareFolder folder;
    const QStringList pairs = folderName.mid(kind.size()).split(QLatin1Char(','));
    for (const QString &pair : pairs) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return std::nullopt;
        const QString key = pair.left(equals);
        const QString value = QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1).toUtf8()));
        if (key == QLatin1String("server")) {
            folder.m_server = value;
        } else if (key == QLatin1String("share")) {
            folder.m_share = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            const int port = value.toInt(&ok);
            if (!ok || port <= 0 || port > 65535)
                return std::nullopt;
            folder.m_port = port;
        }
    }
    // A server or share name with a separator in it would make an address that points
    // somewhere else; GVfs never writes one.
    if (folder.m_server.isEmpty() || folder.m_share.isEmpty() || folder.m_server.contains(QLatin1Char('/'))
        || folder.m_share.contains(QLatin1Char('/')) || folder.m_server.contains(QLatin1Char(':')))
        return std::nullopt;
    return folder;
}

QString PMGvfsShareFolder::hostText() const
{
    return m_port ? m_server + QLatin1Char(':') + QString::number(m_port) : m_server;
}

QString PMGvfsShareFolder::networkAddress() const
{
    return hostText() + QLatin1Char('/') + m_share;
}

QString PMGvfsShareFolder::url() const
{
    return QStringLiteral("smb://") + hostText() + QLatin1Char('/')
        + QString::fromLatin1(QUrl::toPercentEncoding(m_share));
}
