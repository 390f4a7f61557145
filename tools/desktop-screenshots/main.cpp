// Draws the agent's log window, a sync alert, the clear-log question and the sync preview
// window as they appear on the current display and saves each as a PNG in the folder given:
//
//   pellmere-desktop-screenshots OUTPUT_DIR [DRIVE]
//
// The log text is a made-up but typical log. With DRIVE (a folder `pellmere sync` has synced
// this home onto before), the preview shows the real plan of the next sync of that drive:
// the drive's own list and settings walked by the sync engine, and what its media filter
// leaves out with its reasons. Nothing is changed on either side.
#include "agent/app/PMDesktopPreviewPresenter.h"
#include "agent/desktop/PMDialogAlertPresenter.h"
#include "agent/desktop/PMLogWindow.h"
#include "agent/desktop/PMSyncPreviewWindow.h"
#include "agent/desktop/PMWidgetsDesktopFace.h"
#include "agent/settings/PMHostUserIdentity.h"
#include "agent/sync/PMLeftOutList.h"
#include "agent/sync/PMMediaCopyFilter.h"
#include "agent/sync/PMSyncController.h"
#include "agent/sync/PMSyncControllerOwner.h"
#include "agent/sync/PMSyncJob.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <cstdio>

namespace {

QString sampleLog()
{
    const QStringList lines {
        QStringLiteral("----------------------------------------------------"),
        QStringLiteral("Pellmere starting."),
        QStringLiteral("Pellmere v%1").arg(QStringLiteral(PELLMERE_VERSION)),
        QStringLiteral("Sync of \"Backup Disk\" started."),
        QStringLiteral("Copying 1,204 files (3.2 GB) to \"Backup Disk\"."),
        QStringLiteral(
            "Unable to copy \"/home/ada/Music/live.flac\" to \"/media/ada/Backup Disk/ada_desk/Music/live.flac\" "
            "- Input/output error."),
        QStringLiteral("Sync of \"Backup Disk\" completed with errors."),
    };
    QString text;
    QDateTime when = QDateTime::fromString(QStringLiteral("2026-12-08T09:14:03"), Qt::ISODate);
    for (const QString &line : lines) {
        text += when.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss ")) + line + QLatin1Char('\n');
        when = when.addSecs(7);
    }
    return text;
}

// The sync engine's owner, which has nobody to tell here.
class SilentOwner : public PMSyncControllerOwner {
public:
    void sendActivityNotification(bool, const QVariantMap &) override { }
    void addContinuousSyncItems(const QStringList &) override { }
    void showLog() override { }
};

// The next sync's plan of drive, walked as a dry run does: the results and what was left out.
struct Plan {
    SilentOwner owner;
    std::unique_ptr<PMSyncController> controller;
    std::unique_ptr<PMSyncJob> job;
    std::shared_ptr<PMScanResults> results;
    std::shared_ptr<PMLeftOutList> leftOut = std::make_shared<PMLeftOutList>();
};

std::unique_ptr<Plan> planFor(const QString &drive)
{
    auto plan = std::make_unique<Plan>();
    plan->controller = std::make_unique<PMSyncController>(drive, QString(), QStringLiteral("SCREENSHOTS"),
        PMHostUserIdentity::uniqueHostUserId(), &plan->owner, [](PMSyncController &) { return nullptr; });
    PMSyncJob::Options options;
    PMSyncController &controller = *plan->controller;
    const auto leftOut = plan->leftOut;
    options.makeFilter = [&controller, leftOut]() -> std::shared_ptr<const PMCopyItemFilter> {
        auto filter = PMMediaCopyFilter::forController(controller);
        filter->setLeftOutList(leftOut);
        return filter;
    };
    plan->job = std::make_unique<PMSyncJob>(controller, options);
    if (!plan->job->scanOnly())
        return nullptr;
    plan->job->askFilterBelowNewFolders();
    plan->results = std::make_shared<PMScanResults>(plan->job->scanResults());
    return plan;
}

bool save(QWidget *widget, const QString &path)
{
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: pellmere-desktop-screenshots OUTPUT_DIR [DRIVE]\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;

    PMLogWindow log(QString {});
    log.setTitle(QStringLiteral("Pellmere Log"));
    log.setText(sampleLog());
    log.resize(900, 240);
    log.show();

    PMDialogAlertPresenter alerts;
    alerts.present(
        { QStringLiteral("Copy Failed."),
            QStringLiteral("There was a problem copying \"Backup Disk\" (Input/output error).  Do you want to "
                           "continue with the sync operation?"),
            true, true },
        [](platform::AlertAnswer) {}, [] {});

    std::unique_ptr<Plan> plan;
    PMWidgetsDesktopFace face;
    PMDesktopPreviewPresenter previews(face);
    if (argc > 2) {
        plan = planFor(QString::fromLocal8Bit(argv[2]));
        if (!plan) {
            std::fprintf(stderr, "pellmere-desktop-screenshots: cannot walk the drive %s\n", argv[2]);
            return 1;
        }
        previews.present({ QStringLiteral("Backup Disk"), plan->results, plan->leftOut->items() }, [](bool) {});
        for (PMSyncPreviewWindow *window : face.previewWindows()) {
            window->resize(1180, 330);
            window->changesView()->resizeColumnsToContents();
            window->leftOutView()->resizeColumnsToContents();
        }
    }

    int status = 0;
    QTimer::singleShot(800, &app, [&] {
        for (PMSyncPreviewWindow *window : face.previewWindows()) {
            if (!save(window, out.filePath(QStringLiteral("sync-preview.png"))))
                status = 1;
            window->tabs()->setCurrentIndex(1);
            if (!save(window, out.filePath(QStringLiteral("sync-preview-left-out.png"))))
                status = 1;
        }
        previews.withdrawAll();
        if (!save(&log, out.filePath(QStringLiteral("log-window.png"))))
            status = 1;
        if (alerts.openDialogs().empty()
            || !save(alerts.openDialogs().front(), out.filePath(QStringLiteral("alert-copy-failed.png"))))
            status = 1;
        alerts.withdrawAll();
        log.askToClear([] {});
        QTimer::singleShot(500, &app, [&] {
            if (!log.clearQuestion()
                || !save(log.clearQuestion(), out.filePath(QStringLiteral("clear-log-question.png"))))
                status = 1;
            if (log.clearQuestion())
                log.clearQuestion()->reject();
            QApplication::exit(status);
        });
    });
    return QApplication::exec();
}
