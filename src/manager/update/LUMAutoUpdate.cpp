#include "manager/update/LUMAutoUpdate.h"

#include "manager/client/LUMLog.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutexLocker>

namespace {

constexpr const char *kClass = "LUMAutoUpdate";

QVariant fromXml(const char *xml)
{
    if (!xml)
        return {};
    const std::optional<QVariant> value = platform::PropertyList::parse(QByteArray(xml));
    return value ? *value : QVariant();
}

QVariant take(char *xml)
{
    const QVariant value = fromXml(xml);
    AUFree(xml);
    return value;
}

QByteArray toXml(const QVariant &value)
{
    return platform::PropertyList::serialize(value, platform::PlistFormat::Xml);
}

} // namespace

LUMAutoUpdate::Configuration LUMAutoUpdate::buildConfiguration()
{
    return { QStringLiteral("Pellmere"), QStringLiteral(PELLMERE_VERSION), QStringLiteral(PELLMERE_UPDATE_SERVICE_URL),
        QStringLiteral(PELLMERE_PRODUCT_PAGE), QString(), QString() };
}

std::unique_ptr<LUMAutoUpdate> LUMAutoUpdate::create(const Configuration &configuration)
{
    if (AUInit(nullptr) != 0) {
        LUMLog::debug(kClass, QStringLiteral("create"), QStringLiteral("AUInit failed"));
        return nullptr;
    }
    if (configuration.moduleName.isEmpty() || configuration.serviceUrl.isEmpty()) {
        LUMLog::debug(kClass, QStringLiteral("create"), QStringLiteral("no module name or update service configured"));
        return nullptr;
    }
    const QString version
        = configuration.installerVersion.isEmpty() ? QStringLiteral("0.0.1") : configuration.installerVersion;
    std::unique_ptr<LUMAutoUpdate> wrapper(new LUMAutoUpdate(configuration.productPage));
    AUCallbacks callbacks { 0, &LUMAutoUpdate::onNotification };
    char *pending = nullptr;
    const int status = AUUpdaterCreate(configuration.moduleName.toUtf8().constData(), version.toUtf8().constData(),
        configuration.serviceUrl.toUtf8().constData(), &wrapper->m_updater, &pending, wrapper.get(), &callbacks);
    if (status != 0) {
        LUMLog::debug(kClass, QStringLiteral("create"), QStringLiteral("AUUpdaterCreate failed: %1").arg(status));
        return nullptr;
    }
    wrapper->m_updateInfo = take(pending).toMap();
    if (!configuration.installFolder.isEmpty()) {
        AUSetInstallLocation(wrapper->m_updater, QFile::encodeName(configuration.installFolder).constData(),
            QFile::encodeName(configuration.relativeExecutable).constData());
    }
    return wrapper;
}

namespace {
QMutex gSharedLock;
std::unique_ptr<LUMAutoUpdate> gShared;
bool gSharedTried = false;
} // namespace

LUMAutoUpdate *LUMAutoUpdate::shared()
{
    const QMutexLocker locker(&gSharedLock);
    if (!gSharedTried) {
        gSharedTried = true;
        gShared = create(buildConfiguration());
    }
    return gShared.get();
}

void LUMAutoUpdate::releaseShared()
{
    const QMutexLocker locker(&gSharedLock);
    gShared.reset();
}

LUMAutoUpdate::LUMAutoUpdate(const QString &productPage)
    : m_productPage(productPage)
{
}

LUMAutoUpdate::~LUMAutoUpdate()
{
    if (m_updater)
        AUUpdaterRelease(m_updater);
}

QVariantMap LUMAutoUpdate::queryProperties() const
{
    return take(AUCreatePropertiesDictionary(m_updater)).toMap();
}

QVariant LUMAutoUpdate::queryProperty(const QString &name) const
{
    return take(AUQueryProperty(m_updater, name.toUtf8().constData()));
}

void LUMAutoUpdate::setProperty(const QString &name, const QVariant &value)
{
    AUSetProperty(m_updater, name.toUtf8().constData(), toXml(value).constData());
}

QVariantMap LUMAutoUpdate::checkForUpdate()
{
    char *info = nullptr;
    if (AUCheckForUpdateSync(m_updater, &info) != 0)
        return {};
    const QVariantMap offer = take(info).toMap();
    const QMutexLocker lock(&m_mutex);
    m_updateInfo = offer;
    return offer;
}

QVariantMap LUMAutoUpdate::updateInfo() const
{
    const QMutexLocker lock(&m_mutex);
    return m_updateInfo;
}

bool LUMAutoUpdate::downloadUpdateAsync()
{
    const QByteArray info = toXml(updateInfo());
    return !info.isEmpty() && AUDownloadUpdateAsync(m_updater, info.constData()) == 0;
}

void LUMAutoUpdate::abortDownload()
{
    AUAbortDownload(m_updater);
}

void LUMAutoUpdate::onNotification(AUUpdaterRef, int type, const char *info, const char *path, int32_t expected,
    int32_t received, int32_t error, void *context)
{
    auto *self = static_cast<LUMAutoUpdate *>(context);
    const QVariantMap updateInfo = fromXml(info).toMap();
    const QString file = path ? QFile::decodeName(path) : QString();
    switch (type) {
    case kAUDownloadWillStart:
        LUMLog::debug(kClass, QStringLiteral("downloadNotification"), QStringLiteral("D - Download will start"));
        Q_EMIT self->downloadWillStart(updateInfo, file);
        break;
    case kAUDownloadInProgress:
        Q_EMIT self->downloadInProgress(updateInfo, file, expected, received);
        break;
    case kAUDownloadComplete:
        Q_EMIT self->mounting(updateInfo, file);
        break;
    case kAUDownloadOpening:
        Q_EMIT self->launchingPackage(updateInfo, file);
        break;
    case kAUDownloadHandedOver:
        Q_EMIT self->completed(updateInfo, file);
        break;
    case kAUDownloadFailed:
        Q_EMIT self->downloadFailed(updateInfo, error);
        break;
    default:
        break;
    }
}
