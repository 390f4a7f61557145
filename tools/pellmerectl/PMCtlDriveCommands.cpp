#include "tools/pellmerectl/PMCtlDriveCommands.h"

#include "protocol/AEConstants.h"
#include "protocol/PMStatusArchive.h"
#include "tools/pellmerectl/PMCtlExitCode.h"
#include "tools/pellmerectl/PMCtlRequests.h"
#include "tools/pellmerectl/PMCtlSession.h"
#include "tools/pellmerectl/PMCtlSettingTable.h"
#include "tools/pellmerectl/PMCtlStatusPrinter.h"

#include <QProcess>

namespace pmctl {

using namespace protocol;

namespace {

QString onOff(bool value)
{
    return value ? QStringLiteral("on") : QStringLiteral("off");
}

QString yesNo(std::optional<bool> value)
{
    if (!value)
        return QStringLiteral("?");
    return *value ? QStringLiteral("yes") : QStringLiteral("no");
}

// Columns padded to their widest cell, two blanks apart; the last column is not padded.
QStringList tableLines(const QList<QStringList> &rows)
{
    QList<qsizetype> widths;
    for (const QStringList &row : rows) {
        for (qsizetype column = 0; column < row.size(); ++column) {
            if (widths.size() <= column)
                widths << 0;
            widths[column] = qMax(widths[column], row.at(column).size());
        }
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype column = 0; column < row.size(); ++column) {
            if (column + 1 < row.size())
                line += row.at(column).leftJustified(widths.at(column) + 2);
            else
                line += row.at(column);
        }
        lines << line;
    }
    return lines;
}

QString noValueText(AEEventID eventID)
{
    return QStringLiteral("%1: the agent's reply holds no usable value").arg(fourCharCodeToString(eventID));
}

} // namespace

PMCtlDriveCommands::PMCtlDriveCommands(PMCtlSession &session)
    : m_session(session)
{
}

int PMCtlDriveCommands::drives(const QList<PMCtlDrive> &drives)
{
    if (drives.isEmpty()) {
        m_session.print(QStringLiteral("No external or network drives are mounted."));
        return m_session.exitCode();
    }
    QList<QStringList> rows;
    rows << QStringList { QStringLiteral("DRIVE"), QStringLiteral("NAME"), QStringLiteral("KIND"),
        QStringLiteral("VALID"), QStringLiteral("CONFIGURED") };
    for (const PMCtlDrive &drive : drives) {
        std::optional<bool> valid;
        std::optional<bool> configured;
        if (const auto event = PMCtlRequests::driveEvent(kPMIsDriveHFSPlusID, drive.mountPoint)) {
            if (const auto reply = m_session.send(*event))
                valid = PMCtlRequests::booleanResult(*reply, keyDirectObject);
        }
        if (m_session.unreachable())
            return m_session.exitCode();
        if (const auto event = PMCtlRequests::driveEvent(kPMQueryID, drive.mountPoint)) {
            if (const auto reply = m_session.sendKeepingErrors(*event)) {
                const auto error = PMCtlRequests::agentError(kPMQueryID, *reply);
                // A drive the agent cannot sync with is answered "not configured" with -50:
                // that is an answer, not a failure.
                const bool invalidDrive = error && reply->errorNumber() == kParamErr && valid == false;
                if (error && !invalidDrive)
                    m_session.fail(*error, kExitFailed);
                else
                    configured = PMCtlRequests::booleanResult(*reply, keyDirectObject);
                if (invalidDrive && !configured)
                    configured = false;
            }
        }
        if (m_session.unreachable())
            return m_session.exitCode();
        QString kind = drive.kind.isEmpty() ? QStringLiteral("-") : drive.kind;
        if (drive.network)
            kind += QStringLiteral(" (network)");
        rows << QStringList { drive.mountPoint, drive.name.isEmpty() ? QStringLiteral("-") : drive.name, kind,
            yesNo(valid), yesNo(configured) };
    }
    for (const QString &line : tableLines(rows))
        m_session.print(line);
    return m_session.exitCode();
}

std::optional<QStringList> PMCtlDriveCommands::readSetting(const QString &drive, const PMCtlSetting &setting)
{
    const auto event = PMCtlRequests::driveEvent(setting.getID, drive);
    if (!event) {
        m_session.fail(QStringLiteral("%1: no file URL can be made of the drive's path").arg(drive), kExitUsage);
        return std::nullopt;
    }
    const auto reply = m_session.send(*event);
    if (!reply)
        return std::nullopt;
    switch (setting.kind) {
    case PMCtlSetting::Kind::Boolean:
        if (const auto value = PMCtlRequests::booleanResult(*reply, setting.property))
            return QStringList { onOff(*value) };
        break;
    case PMCtlSetting::Kind::Integer:
        if (const auto value = PMCtlRequests::int32Result(*reply, setting.property))
            return QStringList { QString::number(*value) };
        break;
    case PMCtlSetting::Kind::PathList:
        if (const auto paths = PMCtlRequests::pathListResult(*reply))
            return *paths;
        // An agent that knows no list for the drive may answer without a value.
        if (!reply->paramDescriptorForKeyword(keyDirectObject))
            return QStringList();
        break;
    }
    m_session.fail(noValueText(setting.getID), kExitFailed);
    return std::nullopt;
}

int PMCtlDriveCommands::get(const QString &drive, const PMCtlSetting *setting)
{
    if (setting) {
        if (const auto lines = readSetting(drive, *setting)) {
            for (const QString &line : *lines)
                m_session.print(line);
        }
        return m_session.exitCode();
    }
    int nameWidth = 0;
    for (const PMCtlSetting &each : PMCtlSettingTable::all())
        nameWidth = qMax(nameWidth, int(each.name.size()));
    for (const PMCtlSetting &each : PMCtlSettingTable::all()) {
        const auto lines = readSetting(drive, each);
        if (m_session.unreachable())
            break;
        if (!lines)
            continue;
        const QString label = each.name.leftJustified(nameWidth + 2);
        if (lines->isEmpty()) {
            m_session.print(label + QStringLiteral("(empty)"));
            continue;
        }
        m_session.print(label + lines->first());
        for (qsizetype index = 1; index < lines->size(); ++index)
            m_session.print(QString(nameWidth + 2, QLatin1Char(' ')) + lines->at(index));
    }
    return m_session.exitCode();
}

int PMCtlDriveCommands::set(const QString &drive, const PMCtlSetting &setting, const QStringList &values)
{
    QString why;
    const auto event = PMCtlRequests::setEvent(setting, drive, values, &why);
    if (!event) {
        m_session.fail(QStringLiteral("set %1: %2").arg(setting.name, why), kExitUsage);
        return m_session.exitCode();
    }
    m_session.send(*event);
    return m_session.exitCode();
}

int PMCtlDriveCommands::request(const QString &drive, AEEventID eventID)
{
    const auto event = PMCtlRequests::driveEvent(eventID, drive);
    if (!event) {
        m_session.fail(QStringLiteral("%1: no file URL can be made of the drive's path").arg(drive), kExitUsage);
        return m_session.exitCode();
    }
    const auto reply = m_session.send(*event);
    if (!reply)
        return m_session.exitCode();
    if (eventID == kPMStartID)
        m_session.print(QStringLiteral("Sync requested for %1.").arg(drive));
    else if (eventID == kPMCancelID)
        m_session.print(QStringLiteral("Stop requested for %1.").arg(drive));
    else if (eventID == kPMRemoveSyncID)
        m_session.print(QStringLiteral("This user's sync with %1 was removed.").arg(drive));
    return m_session.exitCode();
}

int PMCtlDriveCommands::status(const QString &drive)
{
    const auto event = PMCtlRequests::driveEvent(kPMStatusID, drive);
    if (!event) {
        m_session.fail(QStringLiteral("%1: no file URL can be made of the drive's path").arg(drive), kExitUsage);
        return m_session.exitCode();
    }
    const auto reply = m_session.send(*event);
    if (!reply)
        return m_session.exitCode();
    auto archive = reply->paramDescriptorForKeyword(keyStatus);
    // Also accepted as the direct object, where a reply's value usually sits.
    if (const auto result = reply->paramDescriptorForKeyword(keyDirectObject);
        !archive && result && result->descriptorType() == typeStatus)
        archive = result;
    if (!archive) {
        m_session.print(QStringLiteral("no status"));
        return m_session.exitCode();
    }
    QString why;
    const auto status = PMStatusArchive::statusFromDescriptor(*archive, &why);
    if (!status) {
        m_session.fail(
            QStringLiteral("INFO: the status in the agent's reply cannot be read: %1").arg(why), kExitFailed);
        return m_session.exitCode();
    }
    if (status->isEmpty()) {
        m_session.print(QStringLiteral("no status"));
        return m_session.exitCode();
    }
    const QString text = PMCtlStatusPrinter::format(*status);
    m_session.print(text.endsWith(QLatin1Char('\n')) ? text.chopped(1) : text);
    return m_session.exitCode();
}

int PMCtlDriveCommands::unmount(const QString &drive, bool doUnmount)
{
    PMUnmountAnswer answer;
    const qint32 status = m_session.client().requestUnmount(drive, &answer);
    if (status != kNoErr) {
        m_session.fail(PMCtlSession::transportFailureText(QStringLiteral("unmount"), status,
                           m_session.client().lastErrorText(), qint64(m_session.client().timeout().count())),
            kExitUnreachable);
        return m_session.exitCode();
    }
    if (!answer.approved) {
        QString text = QStringLiteral("unmount refused: status 0x%1")
                           .arg(QString::number(answer.status, 16).toUpper().rightJustified(8, QLatin1Char('0')));
        if (!answer.message.isEmpty())
            text += QStringLiteral(": ") + answer.message;
        m_session.fail(text, kExitFailed);
        return m_session.exitCode();
    }
    m_session.print(QStringLiteral("approved: %1 may be unmounted").arg(drive));
    if (!doUnmount)
        return m_session.exitCode();
    // An argument vector, never a shell line: the path goes to umount as it is.
    QProcess umount;
    umount.setProcessChannelMode(QProcess::MergedChannels);
    umount.start(QStringLiteral("umount"), { drive });
    if (!umount.waitForFinished(-1) || umount.exitStatus() != QProcess::NormalExit || umount.exitCode() != 0) {
        const QString output = QString::fromLocal8Bit(umount.readAll()).trimmed();
        m_session.fail(QStringLiteral("umount %1 failed%2")
                           .arg(drive, output.isEmpty() ? QString() : QStringLiteral(": ") + output),
            kExitFailed);
        return m_session.exitCode();
    }
    m_session.print(QStringLiteral("%1 unmounted").arg(drive));
    return m_session.exitCode();
}

int PMCtlDriveCommands::shares()
{
    const auto reply = m_session.send(PMCtlRequests::agentEvent(kPMListSharesID));
    if (!reply)
        return m_session.exitCode();
    const std::optional<QList<PMCtlNetworkDevice>> devices = PMCtlRequests::networkDevicesResult(*reply);
    if (!devices) {
        m_session.fail(QStringLiteral("SHRS: the agent's reply holds no list of devices"), kExitFailed);
        return m_session.exitCode();
    }
    if (devices->isEmpty())
        m_session.print(QStringLiteral("no network storage devices found"));
    for (const PMCtlNetworkDevice &device : *devices) {
        m_session.print(QStringLiteral("%1  %2  %3")
                            .arg(device.name, device.address.isEmpty() ? QStringLiteral("-") : device.address,
                                device.model.isEmpty() ? QStringLiteral("-") : device.model));
        if (device.shares.isEmpty())
            m_session.print(QStringLiteral("  (no public shares listed)"));
        for (const PMCtlShare &share : device.shares)
            m_session.print(QStringLiteral("  %1  %2")
                                .arg(share.name,
                                    share.mountPath.isEmpty() ? QStringLiteral("not mapped")
                                                              : QStringLiteral("mapped at ") + share.mountPath));
    }
    return m_session.exitCode();
}

} // namespace pmctl
