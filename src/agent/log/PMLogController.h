// The agent's log: the whole text in memory, appended to from any thread, written to the
// log file only when asked (flush), and discarded when the file grows past 3,072,000 bytes.
//
//   PMLogController &log = PMLogController::sharedInstance();
//   log.setLogFilename(path);
//   log.readLogFile();
//   log.addLogString("Pellmere starting.", true, true);
//   log.writeLogFile();
//
// Threads: addLogString() may be called from any thread; it returns once the line is in the
// log, so lines keep their order per thread. A view, when attached, is touched only on the
// thread it lives on (the caller blocks until the line is appended there).
#pragma once

#include "agent/log/PMLogView.h"

#include <QObject>
#include <QString>

#include <mutex>

class PMLogController : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kMaximumLogFileSize = qint64(3000) * 1024;

    PMLogController();
    static PMLogController &sharedInstance();

    QString logFilename() const;
    void setLogFilename(const QString &path);
    QString frameAutosaveName() const;
    void setFrameAutosaveName(const QString &name);
    QString windowTitle() const;
    void setWindowTitle(const QString &title);
    bool suppressTimeStamp() const;
    void setSuppressTimeStamp(bool suppress);

    static QString generateString(const QString &text, bool withTimeStamp, bool withNewLine);
    void addLogString(const QString &text, bool withTimeStamp, bool withNewLine);

    // The log text wherever it lives now (buffer or view).
    QString contents() const;

    bool readLogFile();
    bool writeLogFile();
    bool writeLogFileTo(const QString &path);
    // Deletes the log file when it is larger than the limit; answers whether it did.
    bool pruneLogIfTooLarge();
    void logFileExists(bool create);
    void zapLogAndWindowContents();

    // Attaches the log window; the buffered text moves into it. Null detaches (the text then
    // moves back into the buffer).
    void attachView(PMLogView *view);
    PMLogView *view() const;

private:
    void onViewThread(const std::function<void()> &work) const;

    mutable std::mutex m_mutex; // guards every field below
    QString m_contentsReadFromFile;
    QString m_logFilename;
    QString m_frameAutosaveName = QStringLiteral("com.quendal.logwindow");
    QString m_windowTitle = tr("Log");
    bool m_suppressTimeStamp = false;
    bool m_justPruned = false;
    PMLogView *m_view = nullptr;
};
