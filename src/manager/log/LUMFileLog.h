// The manager's debug log, $XDG_STATE_HOME/pellmere/PellmereUI.log. Each record is one line:
// the date and time, " - ", the message, a line feed; written whole and flushed at once. A
// record that takes the file to 9 MiB or more is still written in full; then the file is
// closed and deleted, and the next record starts a new file.
//
//   LUMFileLog::installMessageHandler();          // once, at start: qDebug and friends land here
//   qCDebug(LUMFileLog::category()) << "D - LUMVolume(fsName) - ...";
//   LUMFileLog::shared().write(QStringLiteral("D - Invalid volume: ..."));
//
// Any thread may write: one lock per log keeps records whole and in order. The file is opened
// on the first record and kept open.
#pragma once

#include <QFile>
#include <QLoggingCategory>
#include <QString>

#include <mutex>

class LUMFileLog {
public:
    static constexpr qint64 kRolloverBytes = qint64(9) * 1024 * 1024;

    // A log writing to filePath (its folder is created on the first record).
    explicit LUMFileLog(QString filePath);
    ~LUMFileLog();
    LUMFileLog(const LUMFileLog &) = delete;
    LUMFileLog &operator=(const LUMFileLog &) = delete;

    // The manager's log, at the user's state folder as it is on first use.
    static LUMFileLog &shared();
    // The category every manager class logs under ("pellmere.manager").
    static const QLoggingCategory &category();

    QString logFileName() const { return m_path; }
    // Opens the file for appending unless it is open; false when it cannot be opened.
    bool logFileOpen();
    void logFileClose();

    // Writes one record; writes nothing when the file cannot be opened.
    void write(const QString &message);

    // Routes Qt's messages of this process into the shared log. Warnings and worse also go on
    // to the handler that was installed before (standard error by default).
    static void installMessageHandler();

private:
    bool openLocked();

    QString m_path;
    QFile m_file;
    std::mutex m_mutex;
};
