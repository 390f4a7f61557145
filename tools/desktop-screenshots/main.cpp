// Draws the agent's log window, a sync alert and the clear-log question as they appear on the
// current display and saves each as a PNG in the folder given:
//
//   pellmere-desktop-screenshots OUTPUT_DIR
//
// The text is a made-up but typical log; nothing of the user's is read.
#include "agent/desktop/PMDialogAlertPresenter.h"
#include "agent/desktop/PMLogWindow.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellmere-desktop-screenshots OUTPUT_DIR\n");
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

    int status = 0;
    QTimer::singleShot(800, &app, [&] {
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
