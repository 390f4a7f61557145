#include "ManagerLogCapture.h"

#include <QLoggingCategory>
#include <QMutex>

#include <algorithm>
#include <cstring>

namespace testsupport {

namespace {

QMutex g_mutex;
QStringList g_lines;
QtMessageHandler g_previous = nullptr;

void capture(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && std::strcmp(context.category, "pellmere.manager") == 0) {
        QMutexLocker lock(&g_mutex);
        g_lines << message;
    }
    if (g_previous)
        g_previous(type, context, message);
}

} // namespace

ManagerLogCapture::ManagerLogCapture()
{
    QLoggingCategory::setFilterRules(QStringLiteral("pellmere.manager.debug=true"));
    g_previous = qInstallMessageHandler(capture);
}

ManagerLogCapture::~ManagerLogCapture()
{
    qInstallMessageHandler(g_previous);
    g_previous = nullptr;
    clear();
}

QStringList ManagerLogCapture::lines() const
{
    QMutexLocker lock(&g_mutex);
    return g_lines;
}

bool ManagerLogCapture::contains(const QString &text) const
{
    const QStringList all = lines();
    return std::any_of(all.cbegin(), all.cend(), [&text](const QString &line) { return line.contains(text); });
}

void ManagerLogCapture::clear()
{
    QMutexLocker lock(&g_mutex);
    g_lines.clear();
}

} // namespace testsupport
