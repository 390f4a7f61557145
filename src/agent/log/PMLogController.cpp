#include "agent/log/PMLogController.h"

#include "platform/FileNameCodec.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QThread>

#include <sys/stat.h>

Q_LOGGING_CATEGORY(lcLog, "pellmere.log")

PMLogController::PMLogController() = default;

PMLogController &PMLogController::sharedInstance()
{
    static PMLogController instance;
    return instance;
}

QString PMLogController::logFilename() const
{
    std::lock_guard lock(m_mutex);
    return m_logFilename;
}

void PMLogController::setLogFilename(const QString &path)
{
    std::lock_guard lock(m_mutex);
    m_logFilename = path;
}

QString PMLogController::frameAutosaveName() const
{
    std::lock_guard lock(m_mutex);
    return m_frameAutosaveName;
}

void PMLogController::setFrameAutosaveName(const QString &name)
{
    std::lock_guard lock(m_mutex);
    m_frameAutosaveName = name;
}

QString PMLogController::windowTitle() const
{
    std::lock_guard lock(m_mutex);
    return m_windowTitle;
}

void PMLogController::setWindowTitle(const QString &title)
{
    PMLogView *view = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_windowTitle = title;
        view = m_view;
    }
    if (view)
        onViewThread([view, title] { view->setTitle(title); });
}

bool PMLogController::suppressTimeStamp() const
{
    std::lock_guard lock(m_mutex);
    return m_suppressTimeStamp;
}

void PMLogController::setSuppressTimeStamp(bool suppress)
{
    std::lock_guard lock(m_mutex);
    m_suppressTimeStamp = suppress;
}

QString PMLogController::generateString(const QString &text, bool withTimeStamp, bool withNewLine)
{
    QString line;
    if (withTimeStamp)
        line = QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd HH:mm:ss ")) + text;
    else
        line = text;
    if (withNewLine)
        line += QLatin1Char('\n');
    return line;
}

void PMLogController::onViewThread(const std::function<void()> &work) const
{
    // The view belongs to the main thread; a worker waits until its line is there, which
    // keeps the per-thread order. With no running event loop (tests, shutdown) the caller
    // touches the view itself rather than wait forever.
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread() || !app->thread()->isRunning()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, work, Qt::BlockingQueuedConnection);
}

void PMLogController::addLogString(const QString &text, bool withTimeStamp, bool withNewLine)
{
    std::unique_lock lock(m_mutex);
    // Names that are not valid UTF-8 reach the log as escaped bytes, never as broken text.
    const QString line
        = generateString(platform::FileNameCodec::printable(text), withTimeStamp && !m_suppressTimeStamp, withNewLine);
    if (PMLogView *view = m_view) {
        lock.unlock();
        onViewThread([view, line] { view->appendText(line); });
        return;
    }
    m_contentsReadFromFile += line;
}

QString PMLogController::contents() const
{
    std::unique_lock lock(m_mutex);
    if (PMLogView *view = m_view) {
        lock.unlock();
        QString text;
        onViewThread([view, &text] { text = view->text(); });
        return text;
    }
    return m_contentsReadFromFile;
}

bool PMLogController::pruneLogIfTooLarge()
{
    const QString path = logFilename();
    struct stat sb = {};
    // stat() follows a link to the file it names, as the size check must.
    if (path.isEmpty() || stat(QFile::encodeName(path).constData(), &sb) != 0 || sb.st_size <= kMaximumLogFileSize)
        return false;
    if (!QFile::remove(path)) {
        qCWarning(lcLog) << "cannot delete oversized log" << path;
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_justPruned = true;
    return true;
}

void PMLogController::logFileExists(bool create)
{
    const QString path = logFilename();
    bool justPruned = false;
    {
        std::lock_guard lock(m_mutex);
        justPruned = m_justPruned;
        m_justPruned = false;
    }
    if (path.isEmpty() || QFileInfo::exists(path) || !(justPruned || create))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qCWarning(lcLog) << "cannot create log file" << path << file.errorString();
}

bool PMLogController::readLogFile()
{
    if (pruneLogIfTooLarge())
        logFileExists(true);
    QFile file(logFilename());
    if (file.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(file.readAll());
        std::lock_guard lock(m_mutex);
        m_contentsReadFromFile = text;
    }
    std::unique_lock lock(m_mutex);
    if (PMLogView *view = m_view) {
        const QString buffered = m_contentsReadFromFile;
        m_contentsReadFromFile.clear();
        lock.unlock();
        onViewThread([view, buffered] { view->setText(buffered); });
    }
    return true;
}

bool PMLogController::writeLogFile()
{
    return writeLogFileTo(logFilename());
}

bool PMLogController::writeLogFileTo(const QString &path)
{
    logFileExists(true);
    const QString text = contents();
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written)
        qCWarning(lcLog).noquote() << QStringLiteral("[LogController writeToFile:%1] failed").arg(path);
    if (path == logFilename() && pruneLogIfTooLarge())
        zapLogAndWindowContents();
    return written;
}

void PMLogController::zapLogAndWindowContents()
{
    PMLogView *view = nullptr;
    {
        std::lock_guard lock(m_mutex);
        view = m_view;
        m_contentsReadFromFile.clear();
    }
    if (view)
        onViewThread([view] { view->setText(QString()); });
    writeLogFile();
}

void PMLogController::attachView(PMLogView *view)
{
    std::unique_lock lock(m_mutex);
    PMLogView *old = m_view;
    if (old == view)
        return;
    m_view = view;
    if (view) {
        const QString buffered = m_contentsReadFromFile;
        m_contentsReadFromFile.clear();
        const QString title = m_windowTitle;
        lock.unlock();
        onViewThread([view, buffered, title] {
            view->setText(view->text() + buffered);
            view->setTitle(title);
        });
    } else if (old) {
        lock.unlock();
        QString text;
        onViewThread([old, &text] { text = old->text(); });
        std::lock_guard relock(m_mutex);
        m_contentsReadFromFile = text + m_contentsReadFromFile;
    }
}

PMLogView *PMLogController::view() const
{
    std::lock_guard lock(m_mutex);
    return m_view;
}
