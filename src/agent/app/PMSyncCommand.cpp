#include "agent/app/PMSyncCommand.h"

#include "agent/app/PMDesktopPreviewPresenter.h"
#include "agent/app/PMLocalSyncChoice.h"
#include "agent/app/PMTerminalAlertPresenter.h"
#include "agent/app/PMTerminalProgress.h"
#include "agent/app/PMVolumeEventRouter.h"
#include "agent/log/PMAgentLog.h"
#include "agent/log/PMLogController.h"
#include "agent/log/PMStandardDefaults.h"
#include "agent/settings/PMConfigurationBatch.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/settings/PMUserDefaults.h"
#include "agent/sync/PMLeftOutList.h"
#include "agent/sync/PMMediaCopyFilter.h"
#include "agent/sync/PMPreviewTableDataSource.h"
#include "agent/sync/PMPreviewTextTable.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncJob.h"
#include "platform/PlatformPaths.h"
#include "platform/UnixSignalNotifier.h"
#include "platform/VolumeDescription.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void printError(const QString &text)
{
    fprintf(stderr, "pellmere sync: %s\n", text.toUtf8().constData());
}

// Errors go to the terminal and into the agent's log, where a user looking back at what
// happened to a drive reads them; call only while no log view mirrors the log on the terminal.
void reportError(const QString &text)
{
    PMAgentLog::logMessage(QStringLiteral("pellmere sync: %1").arg(text));
    printError(text);
}

// Writes the log file out however the command ends.
class LogFlushGuard {
public:
    LogFlushGuard() = default;
    ~LogFlushGuard() { PMAgentLog::flushLog(); }
    LogFlushGuard(const LogFlushGuard &) = delete;
    LogFlushGuard &operator=(const LogFlushGuard &) = delete;
};

void printOut(const QString &text)
{
    fprintf(stdout, "%s\n", text.toUtf8().constData());
    fflush(stdout);
}

// Mirrors the agent's log lines on standard error while the command runs.
class TerminalLogView : public PMLogView {
public:
    explicit TerminalLogView(PMTerminalProgress &progress)
        : m_progress(progress)
    {
    }
    QString text() const override { return m_text; }
    void setText(const QString &text) override { m_text = text; }
    void appendText(const QString &text) override
    {
        m_text += text;
        m_progress.finishLine();
        fputs(text.toUtf8().constData(), stderr);
        fflush(stderr);
    }
    bool isVisible() const override { return true; }
    void show() override { }
    void hide() override { }
    void setTitle(const QString &) override { }

private:
    PMTerminalProgress &m_progress;
    QString m_text;
};

struct Categories {
    bool movies = true;
    bool music = true;
    bool pictures = true;
    bool documents = true;
};

std::optional<Categories> parseCategories(const QString &text)
{
    Categories categories { false, false, false, false };
    for (const QString &raw : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = raw.trimmed().toLower();
        if (name == QLatin1String("movies"))
            categories.movies = true;
        else if (name == QLatin1String("music"))
            categories.music = true;
        else if (name == QLatin1String("pictures"))
            categories.pictures = true;
        else if (name == QLatin1String("documents"))
            categories.documents = true;
        else if (name == QLatin1String("all"))
            categories = Categories();
        else
            return std::nullopt;
    }
    return categories;
}

// A folder without a volume UUID still needs a stable name for its local temporary folder.
QString folderIdentity(const QString &drive)
{
    return QStringLiteral("DIR-")
        + QString::fromLatin1(QCryptographicHash::hash(drive.toUtf8(), QCryptographicHash::Sha1).toHex().left(16))
              .toUpper();
}

// A sync run by hand is the user choosing the drive and its list on this computer: the agent
// records that under the volume's identity, so it may later sync the drive by itself with
// exactly this list. A plain folder is no volume the agent would ever sync on its own.
void recordChoiceForVolume(const QString &drive, const QStringList &list)
{
    const auto describer = platform::VolumeDescriber::create();
    const auto volume = describer ? describer->describeVolume(drive) : std::nullopt;
    if (!volume || QDir::cleanPath(volume->volumePath) != QDir::cleanPath(drive))
        return;
    const QString device = PMVolumeEventRouter::volumeIdentity(*volume, false);
    if (device.isEmpty())
        return;
    PMLocalSyncChoice choice(PMUserDefaults::sharedInstance());
    choice.recordParticipation(device, true);
    choice.recordSyncList(device, list);
}

// The folders a drive this user never set up starts with (as the drive's default set).
QStringList defaultSyncSet()
{
    QStringList items;
    for (const auto folder :
        { platform::UserFolder::Movies, platform::UserFolder::Music, platform::UserFolder::Pictures }) {
        const QString path = platform::PlatformPaths::userFolder(folder);
        if (QFileInfo(path).isDir())
            items.append(platform::PlatformPaths::abbreviateWithTilde(path));
    }
    return items;
}

void printPreview(const PMScanResults &results)
{
    if (results.isEmpty()) {
        printOut(QStringLiteral("Nothing to copy: the drive is up to date."));
        return;
    }
    PMScanResults shown = results;
    const PMPreviewTableDataSource table(&shown);
    fputs(PMPreviewTextTable::render(table).toUtf8().constData(), stdout);
    fflush(stdout);
}

// One line per file: its path, a tab, and the filter's reason.
void printLeftOut(const PMLeftOutList &leftOut)
{
    const std::vector<PMLeftOutList::Item> items = leftOut.items();
    printOut(items.empty() ? QStringLiteral("Left out: nothing.") : QStringLiteral("Left out (%1):").arg(items.size()));
    for (const PMLeftOutList::Item &item : items)
        printOut(QStringLiteral("%1\t%2").arg(item.path, item.refusal.text()));
}

} // namespace

bool PMSyncCommand::wantsPreview(const QStringList &arguments)
{
    return arguments.contains(QStringLiteral("--preview"));
}

int PMSyncCommand::run(const QStringList &arguments, PMDesktopFace *face, const QString &noFace)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs one sync of your folders onto a drive folder."));
    parser.addHelpOption();
    const QCommandLineOption driveOption(
        QStringLiteral("drive"), QStringLiteral("The drive (any writable folder)."), QStringLiteral("DIR"));
    const QCommandLineOption itemOption(QStringLiteral("item"),
        QStringLiteral("A folder or file to sync; repeat for more. Becomes your sync list."), QStringLiteral("PATH"));
    const QCommandLineOption filterOption(QStringLiteral("device-filter"),
        QStringLiteral("Only media playable on device class N (0: no filter)."), QStringLiteral("N"));
    const QCommandLineOption categoriesOption(QStringLiteral("categories"),
        QStringLiteral("Media categories to sync: movies,music,pictures,documents or all (default: the drive's "
                       "settings)."),
        QStringLiteral("LIST"));
    const QCommandLineOption dryRunOption(
        QStringLiteral("dry-run"), QStringLiteral("Show what would be copied; change nothing."));
    const QCommandLineOption explainOption(QStringLiteral("explain"),
        QStringLiteral("With --dry-run: also list every file the media filter leaves out, and why."));
    const QCommandLineOption previewOption(QStringLiteral("preview"),
        QStringLiteral("Show the plan in a window before anything is copied; apply or cancel it there. Needs a "
                       "display."));
    parser.addOptions(
        { driveOption, itemOption, filterOption, categoriesOption, dryRunOption, explainOption, previewOption });
    const bool parsed = parser.parse(QStringList { QStringLiteral("pellmere sync") } + arguments);
    if (parsed && parser.isSet(QStringLiteral("help"))) {
        printOut(parser.helpText());
        return kCompleted;
    }

    PMAgentLog::setupLog();
    const LogFlushGuard flushLogOnExit;
    if (!parsed) {
        reportError(parser.errorText());
        return kUsage;
    }
    if (parser.isSet(previewOption) && parser.isSet(dryRunOption)) {
        reportError(QStringLiteral("--preview and --dry-run do not go together"));
        return kUsage;
    }
    if (parser.isSet(previewOption) && !face) {
        reportError(QStringLiteral("--preview needs a display (DISPLAY or WAYLAND_DISPLAY)%1; --dry-run shows the "
                                   "plan in the terminal")
                        .arg(noFace.isEmpty() ? QString() : QStringLiteral(": ") + noFace));
        return kUsage;
    }
    if (parser.isSet(explainOption) && !parser.isSet(dryRunOption)) {
        reportError(QStringLiteral("--explain goes with --dry-run"));
        return kUsage;
    }
    if (!parser.positionalArguments().isEmpty()) {
        reportError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        return kUsage;
    }
    if (!parser.isSet(driveOption)) {
        reportError(QStringLiteral("--drive DIR is required (see --help)"));
        return kUsage;
    }
    const QFileInfo driveInfo(parser.value(driveOption));
    if (!driveInfo.isDir()) {
        reportError(QStringLiteral("the drive \"%1\" is not a folder").arg(driveInfo.filePath()));
        return kUsage;
    }
    const QString drive = driveInfo.canonicalFilePath();
    if (access(QFile::encodeName(drive).constData(), W_OK) != 0) {
        reportError(QStringLiteral("the drive \"%1\" is not writable").arg(drive));
        return kUsage;
    }
    std::optional<qint32> deviceFilter;
    if (parser.isSet(filterOption)) {
        bool ok = false;
        const int value = parser.value(filterOption).toInt(&ok);
        if (!ok || value < 0 || value > 8) {
            reportError(QStringLiteral("--device-filter takes a number from 0 to 8"));
            return kUsage;
        }
        deviceFilter = value;
    }
    std::optional<Categories> categories;
    if (parser.isSet(categoriesOption)) {
        categories = parseCategories(parser.value(categoriesOption));
        if (!categories) {
            reportError(QStringLiteral("--categories takes movies, music, pictures, documents or all"));
            return kUsage;
        }
    }
    QStringList items;
    for (const QString &raw : parser.values(itemOption)) {
        const QFileInfo item(platform::PlatformPaths::expandTilde(raw));
        if (!item.exists()) {
            reportError(QStringLiteral("the item \"%1\" does not exist").arg(raw));
            return kUsage;
        }
        items.append(platform::PlatformPaths::abbreviateWithTilde(item.absoluteFilePath()));
    }

    PMTerminalProgress progress;
    TerminalLogView logView(progress);
    PMLogController::sharedInstance().attachView(&logView);
    PMTerminalAlertPresenter alerts([&progress] { progress.finishLine(); });

    PMSyncJob *job = nullptr; // owned by the controller
    auto controller = std::make_unique<PMSyncController>(
        drive, QString(), folderIdentity(drive), PMHostUserIdentity::uniqueHostUserId(), &progress,
        [&job](PMSyncController &c) {
            auto created = std::make_unique<PMSyncJob>(c);
            job = created.get();
            return created;
        },
        &alerts);

    PMConfigurationFile &config = controller->deviceConfig();
    if (parser.isSet(dryRunOption)) {
        // Nothing may change on either side: the settings asked for apply to this walk only.
        QStringList walkItems = items;
        if (walkItems.isEmpty())
            walkItems = config.syncItemList().value_or(defaultSyncSet());
        const Categories chosen = categories.value_or(Categories { controller->syncMoviesState(),
            controller->syncMusicState(), controller->syncPicturesState(), controller->syncDocumentsState() });
        PMSyncJob::Options options;
        PMSyncController &owner = *controller;
        const int filterValue = deviceFilter.value_or(controller->syncDeviceFilter());
        const auto leftOut = parser.isSet(explainOption) ? std::make_shared<PMLeftOutList>() : nullptr;
        options.makeFilter = [&owner, chosen, filterValue, leftOut]() -> std::shared_ptr<const PMCopyItemFilter> {
            auto filter = PMMediaCopyFilter::forSettings(
                owner, chosen.movies, chosen.music, chosen.pictures, chosen.documents, filterValue);
            filter->setLeftOutList(leftOut);
            return filter;
        };
        PMSyncJob preview(*controller, options);
        const bool walked = preview.scanOnly(walkItems);
        if (leftOut && walked)
            preview.askFilterBelowNewFolders();
        PMLogController::sharedInstance().attachView(nullptr);
        printPreview(preview.scanResults());
        if (leftOut)
            printLeftOut(*leftOut);
        PMAgentLog::flushLog();
        return walked ? kCompleted : kFailed;
    }

    // Running a sync means taking part; the settings go into the drive's file in one write,
    // and a run that changes none of them leaves the file alone. A file of the old format is
    // converted first, as the agent does, so the list it holds for the drive is kept.
    bool configured = !config.hasOldSyncFormat() || config.convertOldSync();
    if (configured) {
        PMConfigurationBatch batch(config);
        configured = config.addUserToList() && config.setParticipatingEnabledForUser(true);
        if (!items.isEmpty())
            configured = configured && config.setSyncItemList(items);
        else if (!config.syncItemList())
            configured = configured && config.createDefaultSyncSet();
        if (deviceFilter)
            configured = configured && config.setSyncDeviceFilterForUser(*deviceFilter);
        if (categories)
            configured = configured && config.setSyncMoviesEnabledForUser(categories->movies)
                && config.setSyncMusicEnabledForUser(categories->music)
                && config.setSyncPicturesEnabledForUser(categories->pictures)
                && config.setSyncDocumentsEnabledForUser(categories->documents);
        configured = batch.commit() && configured;
        if (configured)
            recordChoiceForVolume(drive, config.syncItemList().value_or(QStringList()));
    }
    if (!configured) {
        PMLogController::sharedInstance().attachView(nullptr);
        const QString why = config.lastWriteError();
        reportError(QStringLiteral("cannot write the sync settings onto \"%1\"%2")
                        .arg(drive, why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        return kUsage;
    }

    std::unique_ptr<PMDesktopPreviewPresenter> previews;
    if (parser.isSet(previewOption)) {
        previews = std::make_unique<PMDesktopPreviewPresenter>(*face);
        controller->setPreviewPresenter(previews.get(), true);
    }

    int exitCode = kFailed;
    platform::UnixSignalNotifier interrupts({ SIGINT, SIGTERM });
    int interruptCount = 0;
    QObject::connect(&interrupts, &platform::UnixSignalNotifier::signalReceived, [&](int) {
        if (++interruptCount > 1) {
            PMAgentLog::flushLog();
            _exit(130);
        }
        progress.finishLine();
        fputs("Canceling... (press Ctrl-C again to quit at once)\n", stderr);
        controller->setCancelPending(true, false);
        // A plan on screen is answered "apply nothing", so the worker sees the cancel.
        if (previews)
            previews->withdrawAll();
    });

    controller->sync();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const int last = progress.lastActivity();
        const bool ended = last == PMSyncController::kActivityCompleted || last == PMSyncController::kActivityFailed;
        if (ended && !controller->busy()) {
            exitCode = last == PMSyncController::kActivityCompleted ? kCompleted : kFailed;
            QCoreApplication::quit();
        }
    });
    poll.start(50);
    // The worker ends its task right after the final notification: look again at once rather
    // than up to a whole poll interval later.
    QObject::connect(&progress, &PMTerminalProgress::forcedActivityShown, &poll, [&poll](int activity) {
        if (activity == PMSyncController::kActivityCompleted || activity == PMSyncController::kActivityFailed)
            poll.setInterval(1);
    });
    QCoreApplication::exec();
    const QString report = job ? job->lastReportMessage() : QString();
    // The worker may still log a line (writing the log file at the end of its task reads the
    // log view), and waits for this thread to show it: this thread keeps serving it until
    // the worker has ended, or destroying the controller, which waits for the worker, would
    // wait forever.
    controller->requestStop();
    if (!controller->workerEnded()) {
        QEventLoop ending;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &ending, [&] {
            if (controller->workerEnded())
                ending.quit();
        });
        check.start(5);
        ending.exec();
    }
    controller.reset();
    previews.reset();
    progress.finishLine();
    PMLogController::sharedInstance().attachView(nullptr);
    PMAgentLog::flushLog();
    printOut(report.isEmpty() ? QStringLiteral("The sync did not run.") : report);
    return exitCode;
}
