#include "tools/pellmerectl/PMCtlCommandLine.h"

#include "protocol/AEConstants.h"
#include "protocol/PMControlClient.h"
#include "tools/pellmerectl/PMCtlDriveCommands.h"
#include "tools/pellmerectl/PMCtlDriveLister.h"
#include "tools/pellmerectl/PMCtlExitCode.h"
#include "tools/pellmerectl/PMCtlSession.h"
#include "tools/pellmerectl/PMCtlSettingTable.h"
#include "tools/pellmerectl/PMCtlValueParser.h"
#include "tools/pellmerectl/PMCtlWatchCommand.h"

#include <QDBusConnection>

namespace pmctl {

using namespace protocol;

namespace {

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    fputs(bytes.constData(), stream);
    fflush(stream);
}

QString settingsHelp()
{
    QString text;
    for (const PMCtlSetting &setting : PMCtlSettingTable::all()) {
        QString value;
        switch (setting.kind) {
        case PMCtlSetting::Kind::Boolean:
            value = QStringLiteral("on|off");
            break;
        case PMCtlSetting::Kind::Integer:
            value = QStringLiteral("N");
            break;
        case PMCtlSetting::Kind::PathList:
            value = QStringLiteral("PATH...");
            break;
        }
        text += QStringLiteral("  %1 %2%3\n").arg(setting.name, -14).arg(value, -9).arg(setting.summary);
    }
    return text;
}

bool isHelp(const QString &word)
{
    return word == QLatin1String("--help") || word == QLatin1String("-h");
}

} // namespace

PMCtlCommandLine::PMCtlCommandLine(FILE *out, FILE *err)
    : m_out(out)
    , m_err(err)
{
}

QString PMCtlCommandLine::usage()
{
    return QStringLiteral("Usage: pellmerectl [--timeout SECONDS] COMMAND [ARGUMENTS]\n"
                          "\n"
                          "Controls the Pellmere agent of this user session.\n"
                          "\n"
                          "Commands:\n"
                          "  drives                      list mounted drives and whether the agent can sync with them\n"
                          "  get DRIVE [SETTING]         show one setting of a drive, or all of them\n"
                          "  set DRIVE SETTING VALUE...  change a setting of a drive\n"
                          "  sync DRIVE                  start a sync now\n"
                          "  stop DRIVE                  stop the running sync\n"
                          "  remove DRIVE                remove this user's sync with the drive\n"
                          "  status DRIVE                show the drive's sync status for every user\n"
                          "  unmount DRIVE               ask the agent whether the drive may be unmounted\n"
                          "  watch [DRIVE]               show sync progress as it happens\n"
                          "  shares                      list the network storage devices found and their shares\n"
                          "\n"
                          "DRIVE is the folder the drive is mounted at.\n"
                          "\n"
                          "Options:\n"
                          "  --timeout SECONDS  how long to wait for each answer of the agent (default 60)\n"
                          "  --help             show this help, or a command's with COMMAND --help\n"
                          "  --version          show the version\n"
                          "\n"
                          "Exit status: 0 done, 1 the agent refused or answered an error, 2 bad arguments\n"
                          "(nothing was sent), 3 the agent cannot be reached.\n");
}

QString PMCtlCommandLine::commandHelp(const QString &command)
{
    if (command == QLatin1String("drives"))
        return QStringLiteral("Usage: pellmerectl drives\n\n"
                              "Lists the external and network drives mounted below the volume folders\n"
                              "(/media, /run/media, /mnt) with whether the agent finds each valid for sync\n"
                              "and whether it holds a sync configuration.\n");
    if (command == QLatin1String("get"))
        return QStringLiteral("Usage: pellmerectl get DRIVE [SETTING]\n\n"
                              "Shows one setting of the drive, or every setting when none is named.\n\nSettings:\n")
            + settingsHelp();
    if (command == QLatin1String("set"))
        return QStringLiteral("Usage: pellmerectl set DRIVE SETTING VALUE...\n\n"
                              "Changes one setting of the drive. Yes/no settings take on/off, true/false,\n"
                              "yes/no or 1/0; device-filter takes a whole number; sync-list takes one or\n"
                              "more paths, made absolute, and replaces the whole list.\n\nSettings:\n")
            + settingsHelp();
    if (command == QLatin1String("sync"))
        return QStringLiteral("Usage: pellmerectl sync DRIVE\n\nAsks the agent to sync the drive now "
                              "(and to take part in syncing with it).\n");
    if (command == QLatin1String("stop"))
        return QStringLiteral("Usage: pellmerectl stop DRIVE\n\nAsks the agent to stop the drive's running sync.\n");
    if (command == QLatin1String("remove"))
        return QStringLiteral("Usage: pellmerectl remove DRIVE\n\n"
                              "Removes this user's sync with the drive: its settings and its folder on the drive.\n");
    if (command == QLatin1String("status"))
        return QStringLiteral("Usage: pellmerectl status DRIVE\n\n"
                              "Shows, for every computer and user syncing with the drive, the computer's name,\n"
                              "the participate, continuous and quiet settings, the last sync time and the\n"
                              "sync set. Prints \"no status\" when the drive has none.\n");
    if (command == QLatin1String("unmount"))
        return QStringLiteral("Usage: pellmerectl unmount [--do-unmount] DRIVE\n\n"
                              "Asks the agent whether the drive may be unmounted now: it refuses while a sync\n"
                              "is running (exit status 1).\n\n"
                              "  --do-unmount  unmount the drive with umount when the agent agrees\n");
    if (command == QLatin1String("shares"))
        return QStringLiteral("Usage: pellmerectl shares\n\n"
                              "Lists the network storage devices the agent found (name, address, model),\n"
                              "their public shares and where the agent has each share mapped as a drive.\n");
    if (command == QLatin1String("watch"))
        return QStringLiteral("Usage: pellmerectl watch [--once] [DRIVE]\n\n"
                              "Shows each drive's sync progress as the agent reports it: a progress bar on a\n"
                              "terminal, one line per update otherwise. Press Ctrl-C to stop.\n\n"
                              "  --once  stop after the first sync that ends; exit status 0 when it completed,\n"
                              "          1 when it failed or was stopped\n");
    return QString();
}

int PMCtlCommandLine::usageError(const QString &text)
{
    write(m_err, QStringLiteral("pellmerectl: %1\nTry 'pellmerectl --help'.\n").arg(text));
    return kExitUsage;
}

int PMCtlCommandLine::run(const QStringList &arguments)
{
    std::chrono::milliseconds timeout = PMControlClient::kDefaultTimeout;
    QStringList words = arguments;
    // Global options come before the command.
    while (!words.isEmpty() && words.first().startsWith(QLatin1Char('-'))) {
        const QString option = words.takeFirst();
        if (isHelp(option)) {
            write(m_out, usage());
            return kExitOk;
        }
        if (option == QLatin1String("--version")) {
            write(m_out, QStringLiteral("pellmerectl %1\n").arg(QStringLiteral(PELLMERE_VERSION)));
            return kExitOk;
        }
        if (option == QLatin1String("--timeout") || option.startsWith(QLatin1String("--timeout="))) {
            QString value;
            if (option.contains(QLatin1Char('=')))
                value = option.section(QLatin1Char('='), 1);
            else if (!words.isEmpty())
                value = words.takeFirst();
            else
                return usageError(QStringLiteral("--timeout needs a number of seconds"));
            QString why;
            const auto parsed = PMCtlValueParser::parseTimeout(value, &why);
            if (!parsed)
                return usageError(QStringLiteral("--timeout: ") + why);
            timeout = *parsed;
            continue;
        }
        return usageError(QStringLiteral("unknown option \"%1\"").arg(option));
    }
    if (words.isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString command = words.takeFirst();
    if (commandHelp(command).isEmpty())
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));
    if (words.contains(QStringLiteral("--help")) || words.contains(QStringLiteral("-h"))) {
        write(m_out, commandHelp(command));
        return kExitOk;
    }
    return runCommand(command, words, timeout);
}

int PMCtlCommandLine::runCommand(
    const QString &command, const QStringList &arguments, std::chrono::milliseconds timeout)
{
    // Command options, then the positional words; "--" ends the options.
    QStringList positional;
    bool doUnmount = false;
    bool once = false;
    bool optionsDone = false;
    for (const QString &word : arguments) {
        if (!optionsDone && word == QLatin1String("--")) {
            optionsDone = true;
        } else if (!optionsDone && word == QLatin1String("--do-unmount") && command == QLatin1String("unmount")) {
            doUnmount = true;
        } else if (!optionsDone && word == QLatin1String("--once") && command == QLatin1String("watch")) {
            once = true;
        } else if (!optionsDone && word.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("%1: unknown option \"%2\"").arg(command, word));
        } else {
            positional << word;
        }
    }

    const bool takesDrive
        = command != QLatin1String("drives") && command != QLatin1String("watch") && command != QLatin1String("shares");
    qsizetype minimum = takesDrive ? 1 : 0;
    qsizetype maximum = takesDrive ? 1 : 0;
    if (command == QLatin1String("get"))
        maximum = 2;
    else if (command == QLatin1String("set"))
        minimum = 3, maximum = -1;
    else if (command == QLatin1String("watch"))
        maximum = 1;
    if (positional.size() < minimum)
        return usageError(QStringLiteral("%1: %2").arg(command,
            positional.isEmpty() && takesDrive ? QStringLiteral("the drive is missing")
                                               : QStringLiteral("a setting or value is missing")));
    if (maximum >= 0 && positional.size() > maximum)
        return usageError(QStringLiteral("%1: unexpected argument \"%2\"").arg(command, positional.at(maximum)));

    QString drive;
    if (!positional.isEmpty() && (takesDrive || command == QLatin1String("watch"))) {
        QString why;
        const auto path = PMCtlValueParser::drivePath(positional.first(), &why);
        if (!path)
            return usageError(QStringLiteral("%1: %2").arg(command, why));
        drive = *path;
    }
    const PMCtlSetting *setting = nullptr;
    if ((command == QLatin1String("get") || command == QLatin1String("set")) && positional.size() >= 2) {
        setting = PMCtlSettingTable::find(positional.at(1));
        if (!setting)
            return usageError(
                QStringLiteral("%1: unknown setting \"%2\" (one of: %3)")
                    .arg(command, positional.at(1), PMCtlSettingTable::names().join(QStringLiteral(", "))));
    }

    QDBusConnection connection = QDBusConnection::sessionBus();
    if (command == QLatin1String("watch")) {
        PMCtlWatchCommand watch(connection, m_out, m_err);
        watch.setOnce(once);
        watch.setDrive(drive);
        return watch.run();
    }

    PMControlClient client(connection);
    client.setTimeout(timeout);
    PMCtlSession session(client, m_out, m_err);
    PMCtlDriveCommands commands(session);
    if (command == QLatin1String("drives")) {
        const auto describer = platform::VolumeDescriber::create();
        return commands.drives(PMCtlDriveLister(*describer).drives());
    }
    if (command == QLatin1String("shares"))
        return commands.shares();
    if (command == QLatin1String("get"))
        return commands.get(drive, setting);
    if (command == QLatin1String("set"))
        return commands.set(drive, *setting, positional.mid(2));
    if (command == QLatin1String("sync"))
        return commands.request(drive, kPMStartID);
    if (command == QLatin1String("stop"))
        return commands.request(drive, kPMCancelID);
    if (command == QLatin1String("remove"))
        return commands.request(drive, kPMRemoveSyncID);
    if (command == QLatin1String("status"))
        return commands.status(drive);
    return commands.unmount(drive, doUnmount);
}

} // namespace pmctl
