// Draws the manager's software update window and its progress sheet and saves them as PNGs in
// the folder given:
//
//   pellmere-update-screenshots OUTPUT_DIR
//
//   update-window.png     the window with its check interval
//   update-progress.png   the window with the progress sheet of a download under way
//
// It works in a home of its own. Its updater's service is an address on this computer where
// nothing answers, and it never checks by itself: the download's progress is fed to the
// window as the library's notifications would bring it.
#include "ScreenshotHome.h"

#include "manager/update/LUMAutoUpdate.h"
#include "manager/update/LUMSoftwareUpdateWindowController.h"
#include "platform/PropertyList.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

bool save(const QImage &image, const QString &path)
{
    const bool saved = image.save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// The window with its sheet drawn where the sheet sits: centred below the window's top.
QImage withSheet(QWidget &window, QWidget &sheet)
{
    QImage picture = window.grab().toImage();
    const QImage overlay = sheet.grab().toImage();
    QPainter painter(&picture);
    const int x = (picture.width() - overlay.width()) / 2;
    painter.fillRect(QRect(x - 1, 0, overlay.width() + 2, overlay.height() + 1), QColor(0, 0, 0, 60));
    painter.drawImage(x, 0, overlay);
    return picture;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    const QString home = ScreenshotHome::use(scratch);
    if (home.isEmpty())
        return 1;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-pellmere"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pellmere"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellmere-update-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;

    // Weekly, as installed, but already checked today: nothing is asked while drawing.
    QVariantMap props;
    props.insert(QStringLiteral("UpdateCheckInterval"), 3);
    props.insert(QStringLiteral("LastCheckTimestamp"), QDateTime::currentDateTimeUtc());
    QDir().mkpath(home + QStringLiteral("/.config/corvane/AutoUpdate/Pellmere"));
    if (!platform::PropertyList::writeFile(
            home + QStringLiteral("/.config/corvane/AutoUpdate/Pellmere/UpdaterProps.plist"), props))
        return 1;
    LUMAutoUpdate::Configuration config = LUMAutoUpdate::buildConfiguration();
    config.serviceUrl = QStringLiteral("http://127.0.0.1:9/check");
    std::unique_ptr<LUMAutoUpdate> updates = LUMAutoUpdate::create(config);
    if (!updates)
        return 1;
    LUMSoftwareUpdateWindowController window(updates.get());
    window.showWindow();

    QVariantMap offer;
    offer.insert(QStringLiteral("new-Version"), QStringLiteral("1.4.0"));
    // The path as a user's would read, not the tool's temporary home.
    const QString path = QStringLiteral("/home/ada/Desktop/Pellmere-1.4.0.tar.xz");
    int status = 0;
    std::vector<std::function<void()>> steps {
        [&] {
            if (!save(window.grab().toImage(), out.filePath(QStringLiteral("update-window.png"))))
                status = 1;
            window.progressSheet()->open();
            Q_EMIT updates->downloadWillStart(offer, path);
            Q_EMIT updates->downloadInProgress(offer, path, 48'200'000, 20'100'000);
        },
        [&] {
            if (!save(withSheet(window, *window.progressSheet()), out.filePath(QStringLiteral("update-progress.png"))))
                status = 1;
            QApplication::exit(status);
        },
    };
    std::size_t next = 0;
    QTimer stepper;
    stepper.setInterval(800);
    QObject::connect(&stepper, &QTimer::timeout, &app, [&] {
        if (next < steps.size())
            steps[next++]();
    });
    stepper.start();
    return app.exec();
}
