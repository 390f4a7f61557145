// The C interface of the library over AUUpdaterCore. Only these functions and constants are
// exported (everything else is hidden), and no C++ type crosses it: values are XML property
// lists in strings allocated with the client's allocator.
#include "autoupdate/CorvaneAutoUpdate.h"

#include "autoupdate/AUKeys.h"
#include "autoupdate/AULog.h"
#include "autoupdate/AUServiceAddress.h"
#include "autoupdate/AUUpdaterCore.h"
#include "platform/PlatformPaths.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>

struct AUUpdater {
    std::atomic<int> references { 1 };
    std::unique_ptr<AUUpdaterCore> core;
    AUCallbacks callbacks {};
    void *context = nullptr;
};

const char *const kAUModuleName = AUKeys::ModuleName;
const char *const kAUModuleVersion = AUKeys::ModuleVersion;
const char *const kAUModuleXMLURL = AUKeys::ModuleXMLURL;
const char *const kAUUpdateCheckInterval = AUKeys::UpdateCheckInterval;
const char *const kAULastCheckTimestamp = AUKeys::LastCheckTimestamp;
const char *const kAUNextCheckTimestamp = AUKeys::NextCheckTimestamp;
const char *const kAULastErrorMessage = AUKeys::LastErrorMessage;
const char *const kAUUpdateInfoOldVersion = AUKeys::OldVersion;
const char *const kAUUpdateInfoNewVersion = AUKeys::NewVersion;
const char *const kAUUpdateInfoProduct = AUKeys::Product;
const char *const kAUUpdateInfoPlatform = AUKeys::Platform;
const char *const kAUUpdateInfoDate = AUKeys::Date;
const char *const kAUUpdateInfoDmgURL = AUKeys::DmgURL;
const char *const kAUUpdateInfoUpdateType = AUKeys::UpdateType;
const char *const kAUUpdateInfoSHA256 = AUKeys::SHA256;
const char *const kAUUpdateTypeURL = AUKeys::TypeURL;
const char *const kAUUpdateTypeDownload = AUKeys::TypeDownload;

namespace {

enum class InitState { NotYet, Done, Failed };
std::atomic<InitState> gInit { InitState::NotYet };
AUAllocator gAllocator { std::malloc, std::free };

// Missing required arguments are programming errors of the client.
void require(const void *argument, const char *what)
{
    if (!argument)
        qFatal("Corvane AutoUpdate: %s is required", what);
}

char *copyOut(const QByteArray &bytes)
{
    auto *text = static_cast<char *>(gAllocator.allocate(size_t(bytes.size()) + 1));
    if (!text)
        return nullptr;
    std::memcpy(text, bytes.constData(), size_t(bytes.size()));
    text[bytes.size()] = '\0';
    return text;
}

char *plistOut(const QVariant &value)
{
    if (!value.isValid())
        return nullptr;
    const QByteArray xml = platform::PropertyList::serialize(value, platform::PlistFormat::Xml);
    return xml.isEmpty() ? nullptr : copyOut(xml);
}

char *dictionaryOut(const QVariantMap &map)
{
    return map.isEmpty() ? nullptr : plistOut(map);
}

QVariant plistIn(const char *xml)
{
    if (!xml)
        return {};
    const std::optional<QVariant> value = platform::PropertyList::parse(QByteArray(xml));
    return value ? *value : QVariant();
}

bool isSafeModuleName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".")
        && name != QLatin1String("..");
}

void notifyClient(AUUpdater *updater, int type)
{
    if (!updater->callbacks.downloadNotification)
        return;
    const AUDownload &download = updater->core->download();
    const QByteArray info = platform::PropertyList::serialize(download.updateInfo(), platform::PlistFormat::Xml);
    const QByteArray path = QFile::encodeName(download.path());
    updater->callbacks.downloadNotification(updater, type, info.isEmpty() ? nullptr : info.constData(),
        path.isEmpty() ? nullptr : path.constData(), download.expectedSize(), download.bytesReceived(),
        download.error(), updater->context);
}

} // namespace

extern "C" {

int AUInit(const AUAllocator *allocator)
{
    if (gInit.load() == InitState::Done)
        return 0;
    if (allocator && allocator->allocate && allocator->deallocate)
        gAllocator = *allocator;
    // A program without Qt gets the application object the event loop needs; it lives as
    // long as the process.
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "corvane-autoupdate";
        static char *argv[] = { name, nullptr };
        new QCoreApplication(argc, argv);
    }
    const QString folder = platform::PlatformPaths::configHome() + QStringLiteral("/corvane/AutoUpdate");
    if (!QDir().mkpath(folder)) {
        qCWarning(lcAutoUpdate) << "cannot make" << folder;
        gInit = InitState::Failed;
        return 1001;
    }
    gInit = InitState::Done;
    return 0;
}

int AUUpdaterCreate(const char *moduleName, const char *moduleVersion, const char *moduleXMLURL, AUUpdaterRef *updater,
    char **updateInfo, void *clientContext, const AUCallbacks *callbacks)
{
    require(moduleName, "the module name");
    require(moduleVersion, "the module version");
    require(moduleXMLURL, "the module's service URL");
    require(updater, "the updater's output");
    require(updateInfo, "the update info's output");
    *updater = nullptr;
    *updateInfo = nullptr;
    if (gInit.load() != InitState::Done)
        return -1;
    const QString name = QString::fromUtf8(moduleName);
    const QString url = QString::fromUtf8(moduleXMLURL);
    if (!isSafeModuleName(name)) {
        qCWarning(lcAutoUpdate) << "refusing the module name" << name;
        return -1;
    }
    if (!AUServiceAddress::isAcceptable(QUrl(url))) {
        qCWarning(lcAutoUpdate) << "refusing the update service" << url << "(not HTTPS)";
        return -1;
    }
    auto record = std::make_unique<AUUpdater>();
    if (callbacks)
        record->callbacks = *callbacks;
    record->context = clientContext;
    AUUpdater *raw = record.get();
    record->core = std::make_unique<AUUpdaterCore>(
        name, QString::fromUtf8(moduleVersion), url, [raw](int type) { notifyClient(raw, type); });
    QString error;
    if (!record->core->initialize(&error)) {
        qCWarning(lcAutoUpdate) << "cannot create the updater of" << name << error;
        return -1;
    }
    *updateInfo = dictionaryOut(record->core->pendingUpdate());
    *updater = record.release();
    return 0;
}

AUUpdaterRef AUUpdaterRetain(AUUpdaterRef updater)
{
    require(updater, "the updater");
    updater->references.fetch_add(1);
    return updater;
}

void AUUpdaterRelease(AUUpdaterRef updater)
{
    require(updater, "the updater");
    if (updater->references.fetch_sub(1) != 1)
        return;
    if (QThread::currentThread() == updater->core->thread()) {
        delete updater;
        return;
    }
    // The core's timer, network objects and notifications belong to its own thread: the whole
    // record ends there, so no notification can reach a record already gone.
    AUUpdaterCore *core = updater->core.get();
    QMetaObject::invokeMethod(
        core, [updater] { delete updater; }, Qt::QueuedConnection);
}

void AUSetInstallLocation(AUUpdaterRef updater, const char *installFolder, const char *relativeExecutable)
{
    require(updater, "the updater");
    require(installFolder, "the install folder");
    require(relativeExecutable, "the executable");
    updater->core->setInstallLocation(
        { QDir::cleanPath(QFile::decodeName(installFolder)), QFile::decodeName(relativeExecutable) });
}

char *AUCreatePropertiesDictionary(AUUpdaterRef updater)
{
    require(updater, "the updater");
    return plistOut(updater->core->properties());
}

char *AUQueryProperty(AUUpdaterRef updater, const char *name)
{
    require(updater, "the updater");
    require(name, "the property name");
    return plistOut(updater->core->property(QString::fromUtf8(name)));
}

int AUSetProperty(AUUpdaterRef updater, const char *name, const char *value)
{
    require(updater, "the updater");
    require(name, "the property name");
    updater->core->setProperty(QString::fromUtf8(name), plistIn(value));
    return 0;
}

int AUCheckForUpdateSync(AUUpdaterRef updater, char **updateInfo)
{
    require(updater, "the updater");
    require(updateInfo, "the update info's output");
    *updateInfo = nullptr;
    QVariantMap update;
    const int result = updater->core->checkSync(&update);
    if (result == 0)
        *updateInfo = dictionaryOut(update);
    return result;
}

int AUDownloadUpdateAsync(AUUpdaterRef updater, const char *updateInfo)
{
    require(updater, "the updater");
    const QVariant info = plistIn(updateInfo);
    if (info.typeId() != QMetaType::QVariantMap)
        return -1;
    return updater->core->download().start(info.toMap(), updater->core->installLocation());
}

int AUAbortDownload(AUUpdaterRef updater)
{
    require(updater, "the updater");
    updater->core->download().abort();
    return 0;
}

void AURunEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(std::max(0, milliseconds), &loop, &QEventLoop::quit);
    loop.exec();
}

void AUFree(void *pointer)
{
    if (pointer)
        gAllocator.deallocate(pointer);
}

} // extern "C"
