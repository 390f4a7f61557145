#include "agent/desktop/PMTrayActivity.h"

#include <QCoreApplication>

#include <algorithm>

namespace {
// Activity and failure numbers of the progress record.
constexpr int kActivityFailed = 5;
constexpr int kActivityCompleted = 6;
constexpr int kFailureIncomplete = 1;
constexpr int kFailureDriveGone = 3;
constexpr int kFailureNetworkLost = 5;
constexpr int kFailureCanceled = 6;

QString lastComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? trimmed : trimmed.mid(slash + 1);
}
} // namespace

void PMTrayActivity::update(const QVariantMap &progress)
{
    const QString activePath = progress.value(QStringLiteral("activePath")).toString();
    if (!activePath.isEmpty())
        m_driveName = lastComponent(activePath);
    const bool busy = progress.value(QStringLiteral("syncIsBusy")).toInt() != 0;
    const int activity = progress.value(QStringLiteral("syncActivityType")).toInt();
    const int failure = progress.value(QStringLiteral("syncActivityFailureType")).toInt();

    if (busy && activity != kActivityFailed && activity != kActivityCompleted) {
        m_state = State::Syncing;
        m_failureType = 0;
        const double size = progress.value(QStringLiteral("syncSize")).toDouble();
        const double done = progress.value(QStringLiteral("syncCopied")).toDouble()
            + progress.value(QStringLiteral("syncSkipFilter")).toDouble()
            + progress.value(QStringLiteral("syncSkipPresent")).toDouble();
        m_percent = size > 0 ? std::clamp(int(done * 100.0 / size), 0, 100) : 0;
        return;
    }
    m_percent = 0;
    if (activity == kActivityFailed || failure != 0) {
        m_state = State::Failed;
        m_failureType = failure;
        return;
    }
    // Completed, idle, or an empty record (nothing busy): a failure shown stays.
    if (m_state != State::Failed || activity == kActivityCompleted)
        m_state = State::Idle;
}

QString PMTrayActivity::failureText(int failureType)
{
    switch (failureType) {
    case kFailureIncomplete:
        return QCoreApplication::translate("PMTrayActivity", "not everything could be copied");
    case kFailureDriveGone:
        return QCoreApplication::translate("PMTrayActivity", "the drive went away");
    case kFailureNetworkLost:
        return QCoreApplication::translate("PMTrayActivity", "the connection was lost");
    case kFailureCanceled:
        return QCoreApplication::translate("PMTrayActivity", "canceled");
    default:
        return QCoreApplication::translate("PMTrayActivity", "see the log");
    }
}

QString PMTrayActivity::toolTip() const
{
    switch (m_state) {
    case State::Syncing:
        return QCoreApplication::translate("PMTrayActivity", "Pellmere: syncing \"%1\" (%2%)")
            .arg(m_driveName)
            .arg(m_percent);
    case State::Failed:
        return QCoreApplication::translate("PMTrayActivity", "Pellmere: the last sync of \"%1\" failed: %2")
            .arg(m_driveName, failureText(m_failureType));
    case State::Idle:
        break;
    }
    return QCoreApplication::translate("PMTrayActivity", "Pellmere: idle");
}
