// Draws the manager's main window in its four usual looks and saves each as a PNG in the
// folder given:
//
//   pellmere-manager-screenshots OUTPUT_DIR
//
//   manager-idle.png      a drive selected and synced to, custom plan, two folders and two
//                         categories chosen
//   manager-syncing.png   a sync of that drive under way (progress and copy picture)
//   manager-success.png   the sync done, with its sizes
//   manager-failure.png   a sync that failed, with the reason
//
// The drives listed are the ones mounted below the volume roots (PELLMERE_VOLUME_ROOTS), as in
// the program; scripts/screenshots.sh mounts a drive image there. Without one, a folder of the
// tool's own stands in for the drive. No agent runs: the activity is fed to the window as the
// agent's notifications would bring it. It works in a home of its own (HOME and the XDG
// folders in a temporary folder), so the user's settings and launch entries are never touched.
#include "ScreenshotHome.h"

#include "manager/client/LUMAgentPaths.h"
#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMVolumeBase.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "manager/widgets/LUMOnOffButton.h"
#include "manager/window/LUMApplicationController.h"
#include "manager/window/LUMMainWindow.h"
#include "netstorage/FSNamesAndTags.h"
#include "platform/VolumeDescription.h"

#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

// The volume list of the program, plus a folder standing for a drive when nothing is mounted.
class ScreenshotVolumes : public LUMVolumeMonitor {
public:
    using LUMVolumeMonitor::LUMVolumeMonitor;
    void listFolder(const QString &path, const QString &name)
    {
        platform::VolumeDescription description;
        description.volumePath = path;
        description.volumeName = name;
        auto volume = std::make_shared<LUMVolumeBase>(description);
        volume->setMounted(true);
        addVolume(volume);
    }
};

// A picture in the user's Photos folder: the copy picture shows the file being copied, and a
// file that does not exist has none.
bool writeSamplePhoto(const QString &path)
{
    QImage photo(640, 480, QImage::Format_RGB32);
    QPainter painter(&photo);
    QLinearGradient sky(0, 0, 0, 480);
    sky.setColorAt(0.0, QColor(0x1d, 0x3f, 0x72));
    sky.setColorAt(0.6, QColor(0xf2, 0x9e, 0x4c));
    painter.fillRect(photo.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0xff, 0xe0, 0x8a));
    painter.drawEllipse(QPointF(320, 300), 70, 70);
    painter.setBrush(QColor(0x21, 0x4e, 0x6b));
    painter.drawRect(0, 300, 640, 180);
    painter.end();
    return photo.save(path, "JPEG");
}

bool save(QWidget *widget, const QString &path)
{
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

QVariantMap report(int type, const QString &drive)
{
    return { { QStringLiteral("syncActivityType"), type }, { QStringLiteral("syncIsBusy"), type >= 1 && type <= 4 },
        { QStringLiteral("activePath"), drive } };
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    // The window's frame, the agent client's launch entries and the sample folders all go to
    // the user's folders: these are the tool's own.
    const QString home = ScreenshotHome::use(scratch);
    if (home.isEmpty())
        return 1;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-pellmere"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Pellmere"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: pellmere-manager-screenshots OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;

    const std::unique_ptr<platform::VolumeDescriber> describer = platform::VolumeDescriber::create();
    ScreenshotVolumes volumes(*describer, FSNamesAndTags::sharedManager());
    (void)volumes.start();
    if (volumes.volumes().isEmpty()) {
        const QString folder = scratch.filePath(QStringLiteral("Backup Disk"));
        QDir().mkpath(folder);
        volumes.listFolder(folder, QStringLiteral("Backup Disk"));
    }
    LUMVolumeListModel model(volumes);
    // No agent and no bus: the client answers its defaults and keeps the settings locally.
    LUMPellmereInterface client(LUMAgentPaths::standard(scratch.filePath(QStringLiteral("no-agent/pellmere"))),
        QDBusConnection(QStringLiteral("pellmere-screenshots-no-bus")));
    LUMApplicationController controller(client, model);
    LUMMainWindow window(controller);
    window.show();

    const QStringList folders { home + QStringLiteral("/Projects"), home + QStringLiteral("/Photos") };
    for (const QString &folder : folders)
        QDir().mkpath(folder);
    const QString photo = folders.at(1) + QStringLiteral("/harbour-at-dawn.jpg");
    if (!writeSamplePhoto(photo))
        return 1;

    int status = 0;
    QString drive;
    // Each step puts the window in one state; the next one saves it once it has been drawn.
    std::vector<std::function<void()>> steps {
        [&] {
            controller.selectVolume(0);
            drive = client.syncDestinationPath();
            controller.changeSyncPlan(3);
            window.addChosenPaths(folders);
            window.picturesBox()->click();
            window.documentsBox()->click();
            window.participationSwitch()->setCustomState(true);
        },
        [&] {
            if (!save(&window, out.filePath(QStringLiteral("manager-idle.png"))))
                status = 1;
            QVariantMap running = report(2, drive);
            running.insert(QStringLiteral("syncSize"), quint64(3'400'000'000));
            running.insert(QStringLiteral("syncSkipPresent"), quint64(1'100'000'000));
            running.insert(QStringLiteral("syncCopied"), quint64(900'000'000));
            running.insert(QStringLiteral("syncCopySourcePath"), photo);
            controller.activity().updateActivity(running);
        },
        [&] {
            if (!save(&window, out.filePath(QStringLiteral("manager-syncing.png"))))
                status = 1;
            QVariantMap done = report(6, drive);
            done.insert(QStringLiteral("syncSize"), quint64(3'400'000'000));
            done.insert(QStringLiteral("syncSkipFilter"), quint64(200'000'000));
            done.insert(QStringLiteral("syncSkipPresent"), quint64(1'100'000'000));
            done.insert(QStringLiteral("syncCopied"), quint64(2'100'000'000));
            controller.activity().updateActivity(done);
        },
        [&] {
            if (!save(&window, out.filePath(QStringLiteral("manager-success.png"))))
                status = 1;
            controller.activity().updateActivity(report(2, drive));
            QVariantMap failed = report(5, drive);
            // The drive could not be written to.
            failed.insert(QStringLiteral("syncActivityFailureType"), 3);
            controller.activity().updateActivity(failed);
        },
        [&] {
            if (!save(&window, out.filePath(QStringLiteral("manager-failure.png"))))
                status = 1;
            QApplication::exit(status);
        },
    };
    // The activity box fades in and the copy picture flies onto the drive (1.25 s): give each
    // state time to settle.
    std::size_t next = 0;
    QTimer stepper;
    stepper.setInterval(1600);
    QObject::connect(&stepper, &QTimer::timeout, &app, [&] {
        if (next < steps.size())
            steps[next++]();
    });
    stepper.start();
    return QApplication::exec();
}
