#include "manager/log/LUMFileLog.h"

#include "platform/PlatformPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

Q_LOGGING_CATEGORY(lcManagerLog, "pellmere.manager")

namespace {

QtMessageHandler g_previousHandler = nullptr;

// A record's time, as the date description of the original log reads: "2026-12-08 21:03:58 +0000".
QByteArray timestamp()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8() + " +0000";
}

void routeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // A message raised while writing a record (Qt reporting a file error) must not come back
    // here and wait for the lock this thread holds.
    thread_local bool writing = false;
    if (!writing) {
        writing = true;
        LUMFileLog::shared().write(message);
        writing = false;
    }
    if (type != QtDebugMsg && type != QtInfoMsg) {
        if (g_previousHandler)
            g_previousHandler(type, context, message);
        else
            fprintf(stderr, "%s\n", qUtf8Printable(message));
    }
}

} // namespace

LUMFileLog::LUMFileLog(QString filePath)
    : m_path(std::move(filePath))
{
}

LUMFileLog::~LUMFileLog() = default;

LUMFileLog &LUMFileLog::shared()
{
    // Never destroyed: threads and message handlers may still write while the process exits.
    static LUMFileLog *log = new LUMFileLog(platform::PlatformPaths::managerLogPath());
    return *log;
}

const QLoggingCategory &LUMFileLog::category()
{
    return lcManagerLog();
}

bool LUMFileLog::logFileOpen()
{
    std::lock_guard lock(m_mutex);
    return openLocked();
}

void LUMFileLog::logFileClose()
{
    std::lock_guard lock(m_mutex);
    m_file.close();
}

bool LUMFileLog::openLocked()
{
    if (m_file.isOpen())
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::ReadWrite | QIODevice::Append);
}

void LUMFileLog::write(const QString &message)
{
    std::lock_guard lock(m_mutex);
    if (!openLocked())
        return;
    m_file.write(timestamp() + " - " + message.toUtf8() + '\n');
    m_file.flush();
    if (m_file.size() >= kRolloverBytes) {
        m_file.close();
        QFile::remove(m_path);
    }
}

void LUMFileLog::installMessageHandler()
{
    QtMessageHandler previous = qInstallMessageHandler(routeMessage);
    if (previous != routeMessage)
        g_previousHandler = previous;
}
