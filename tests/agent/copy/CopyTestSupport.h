// Small helpers shared by the copy engine tests: file trees, links, console capture.
#pragma once

#include "agent/log/PMLogController.h"
#include "support/TestEnvironment.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace copytest {

inline QString join(const QString &folder, const QString &relative)
{
    return folder + QLatin1Char('/') + relative;
}

inline void makeLink(const QString &text, const QString &at)
{
    ASSERT_EQ(::symlink(QFile::encodeName(text).constData(), QFile::encodeName(at).constData()), 0) << at.toStdString();
}

inline QString linkText(const QString &path)
{
    char buffer[4096];
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return length < 0 ? QString() : QFile::decodeName(QByteArray(buffer, int(length)));
}

inline struct stat lstatOf(const QString &path)
{
    struct stat item = {};
    ::lstat(QFile::encodeName(path).constData(), &item);
    return item;
}

inline bool agentLogContains(const QString &line)
{
    return PMLogController::sharedInstance().contents().contains(line);
}

// Collects the console lines of one logging category while alive.
class ConsoleCapture {
public:
    explicit ConsoleCapture(const char *category)
    {
        s_category = category;
        s_lines.clear();
        m_previous = qInstallMessageHandler(&ConsoleCapture::handle);
    }
    ~ConsoleCapture() { qInstallMessageHandler(m_previous); }
    QStringList lines() const
    {
        std::lock_guard lock(s_mutex);
        return s_lines;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && qstrcmp(context.category, s_category) == 0) {
            std::lock_guard lock(s_mutex);
            s_lines << message;
        }
    }
    static inline const char *s_category = nullptr;
    static inline QStringList s_lines;
    static inline std::mutex s_mutex;
    QtMessageHandler m_previous = nullptr;
};

} // namespace copytest
