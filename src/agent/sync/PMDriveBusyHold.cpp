#include "agent/sync/PMDriveBusyHold.h"

#include <QFile>
#include <QLoggingCategory>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcBusyHold, "pellmere.sync")

PMDriveBusyHold::PMDriveBusyHold(const QString &mountPoint)
{
    if (mountPoint.isEmpty())
        return;
    m_fd = ::open(QFile::encodeName(mountPoint).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        qCWarning(lcBusyHold).noquote() << "cannot hold" << mountPoint << "busy:" << strerror(errno);
}

PMDriveBusyHold::~PMDriveBusyHold()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
