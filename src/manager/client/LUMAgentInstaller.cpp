#include "manager/client/LUMAgentInstaller.h"

#include "manager/client/LUMBuildStamp.h"
#include "manager/client/LUMLog.h"
#include "protocol/PMBusNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

#include <algorithm>

namespace {

// The lines belong to the interface the manager sees, whichever helper writes them.
const char *const kClass = "LUMPellmereInterface";
const QString kOperation = QStringLiteral("installPellmere");
const QString kServiceGroup = QStringLiteral("D-BUS Service");
const QString kDesktopGroup = QStringLiteral("Desktop Entry");
// The agent without a terminal runs in place; saying so keeps it from detaching even when
// started from one.
const QString kAgentArgument = QStringLiteral("--foreground");
// Entries are small; anything bigger is not ours.
constexpr qint64 kMaxEntrySize = 64 * 1024;

void log(const QString &text)
{
    LUMLog::debug(kClass, kOperation, text);
}

const char *yesNo(bool value)
{
    return value ? "true" : "false";
}

bool hasControlCharacter(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// The keys of one group of a key file; nothing when the file cannot be read or lacks the group.
std::optional<QHash<QString, QString>> readGroup(const QString &path, const QString &group)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxEntrySize)
        return std::nullopt;
    const QString text = QString::fromUtf8(file.readAll());
    QHash<QString, QString> keys;
    bool inGroup = false;
    bool sawGroup = false;
    for (const QString &rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            sawGroup = sawGroup || inGroup;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    if (!sawGroup)
        return std::nullopt;
    return keys;
}

} // namespace

LUMAgentInstaller::LUMAgentInstaller(LUMAgentPaths paths, QString buildStamp, int formatVersion)
    : m_paths(std::move(paths))
    , m_buildStamp(std::move(buildStamp))
    , m_formatVersion(formatVersion)
{
}

QString LUMAgentInstaller::builtStamp()
{
    return QStringLiteral(PELLMERE_BUILD_STAMP_TEXT);
}

std::optional<QString> LUMAgentInstaller::execLine() const
{
    const QString program = m_paths.agentExecutable;
    if (program.isEmpty() || hasControlCharacter(program))
        return std::nullopt;
    // The session bus and the desktop read Exec= alike: the program in double quotes with ",
    // `, $ and \ escaped by a backslash, then every backslash doubled again as the escape of
    // the key file's value; % is the desktop's field-code character. No shell runs it.
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
            quoted += QStringLiteral("\\\\") + c;
        else if (c == QLatin1Char('\\'))
            quoted += QStringLiteral("\\\\\\\\");
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("%%");
        else
            quoted += c;
    }
    return QLatin1Char('"') + quoted + QStringLiteral("\" ") + kAgentArgument;
}

LUMAgentInstaller::Verdict LUMAgentInstaller::judgeEntry(
    const QString &path, const QString &group, const QString &execLine) const
{
    const std::optional<QHash<QString, QString>> keys = readGroup(path, group);
    if (!keys)
        return Verdict::NotValid;
    bool isNumber = false;
    const int version = keys->value(kVersionKey).toInt(&isNumber);
    if (!isNumber || version != m_formatVersion)
        return Verdict::Earlier;
    if (keys->value(kBuildStampKey) != m_buildStamp || keys->value(QStringLiteral("Exec")) != execLine)
        return Verdict::Changed;
    return Verdict::Valid;
}

bool LUMAgentInstaller::writeEntry(const QString &path, const QString &text) const
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        log(QStringLiteral("installPellmere - cannot create the folder of %1").arg(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        log(QStringLiteral("installPellmere - cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    file.write(text.toUtf8());
    if (!file.commit()) {
        log(QStringLiteral("installPellmere - cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

bool LUMAgentInstaller::systemInstallValid(const QString &execLine) const
{
    if (m_paths.systemActivationFile.isEmpty() || m_paths.systemAutostartFile.isEmpty())
        return false;
    const std::optional<QHash<QString, QString>> service = readGroup(m_paths.systemActivationFile, kServiceGroup);
    const std::optional<QHash<QString, QString>> desktop = readGroup(m_paths.systemAutostartFile, kDesktopGroup);
    return service && desktop && service->value(QStringLiteral("Exec")) == execLine
        && desktop->value(QStringLiteral("Exec")) == execLine;
}

void LUMAgentInstaller::removeOwnUserEntries() const
{
    for (const QString &path : { m_paths.activationFile, m_paths.autostartFile }) {
        // Only what a manager wrote: a user's own entry (say one that turns autostart off)
        // stays in force.
        const bool ours = readGroup(path, kServiceGroup).value_or(QHash<QString, QString>()).contains(kVersionKey)
            || readGroup(path, kDesktopGroup).value_or(QHash<QString, QString>()).contains(kVersionKey);
        if (!ours)
            continue;
        if (QFile::remove(path))
            log(QStringLiteral("installPellmere - removed %1, which hid the system-wide entry").arg(path));
        else
            log(QStringLiteral("installPellmere - cannot remove %1").arg(path));
    }
}

bool LUMAgentInstaller::installPellmere()
{
    const bool launchAgentPresent
        = QFileInfo::exists(m_paths.activationFile) && QFileInfo::exists(m_paths.autostartFile);
    const QFileInfo agent(m_paths.agentExecutable);
    const bool binaryAgentPresent = agent.isFile() && agent.isExecutable();
    const std::optional<QString> exec = execLine();

    if (binaryAgentPresent && exec && systemInstallValid(*exec)) {
        log(QStringLiteral("installPellmere - system-wide install valid: %1, %2")
                .arg(m_paths.systemActivationFile, m_paths.systemAutostartFile));
        removeOwnUserEntries();
        return true;
    }

    bool installValid = false;
    if (launchAgentPresent && binaryAgentPresent && exec) {
        const Verdict service = judgeEntry(m_paths.activationFile, kServiceGroup, *exec);
        const Verdict desktop = judgeEntry(m_paths.autostartFile, kDesktopGroup, *exec);
        if (service == Verdict::NotValid || desktop == Verdict::NotValid)
            log(QStringLiteral("Installing Pellmere - previous version plist not valid"));
        else if (service == Verdict::Earlier || desktop == Verdict::Earlier)
            log(QStringLiteral("Installing Pellmere - previous version is earlier"));
        else if (service == Verdict::Changed || desktop == Verdict::Changed)
            log(QStringLiteral("Installing Pellmere - previous install is of another build or agent"));
        installValid = service == Verdict::Valid && desktop == Verdict::Valid;
    }
    log(QStringLiteral("installPellmere - launchAgentPresent %1").arg(QLatin1String(yesNo(launchAgentPresent))));
    log(QStringLiteral("installPellmere - binaryAgentPresent %1").arg(QLatin1String(yesNo(binaryAgentPresent))));
    log(QStringLiteral("installPellmere - installValid %1").arg(QLatin1String(yesNo(installValid))));
    if (installValid)
        return true;

    if (!binaryAgentPresent) {
        log(QStringLiteral("installPellmere - no agent program at %1").arg(m_paths.agentExecutable));
        return false;
    }
    if (!exec) {
        log(QStringLiteral("installPellmere - the agent's path cannot be written into an entry: %1")
                .arg(m_paths.agentExecutable));
        return false;
    }

    const QString stampLines
        = QStringLiteral("%1=%2\n%3=%4\n").arg(kVersionKey).arg(m_formatVersion).arg(kBuildStampKey, m_buildStamp);
    const QString service
        = QStringLiteral("[%1]\nName=%2\nExec=%3\n").arg(kServiceGroup, protocol::kPMServiceName, *exec) + stampLines;
    const QString desktop = QStringLiteral("[%1]\nType=Application\nName=Pellmere\n"
                                           "Comment=Copies your chosen folders onto your drives\n"
                                           "Exec=%2\nTerminal=false\nNoDisplay=true\n"
                                           "X-GNOME-Autostart-enabled=true\n")
                                .arg(kDesktopGroup, *exec)
        + stampLines;
    log(QStringLiteral("Installing Pellmere - %1").arg(m_paths.activationFile));
    if (!writeEntry(m_paths.activationFile, service) || !writeEntry(m_paths.autostartFile, desktop))
        return false;
    log(QStringLiteral("Installed Pellmere"));
    return true;
}
