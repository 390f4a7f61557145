#include "agent/media/PMPhotoBoothSpecialContentValidator.h"

#include "agent/settings/PMPreferenceDomains.h"
#include "platform/PreferenceStore.h"

#include <chrono>
#include <memory>
#include <mutex>

namespace {

const QString kLibraryPathKey = QStringLiteral("LibraryPath");

// Keeps the last value read and asks the preference file again only after a short interval.
class ThrottledPreference {
public:
    QString libraryPath()
    {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (now >= m_nextRead) {
            // The folder follows the environment (XDG_CONFIG_HOME), so it is looked up again too.
            const QString filePath = PMPhotoBoothSpecialContentValidator::preferenceFilePath();
            if (!m_store || m_store->filePath() != filePath)
                m_store = std::make_unique<platform::PreferenceStore>(filePath);
            const QVariant value = m_store->value(kLibraryPathKey);
            m_value = value.typeId() == QMetaType::QString ? value.toString() : QString();
            m_nextRead = now + std::chrono::milliseconds(500);
        }
        return m_value;
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<platform::PreferenceStore> m_store;
    QString m_value;
    std::chrono::steady_clock::time_point m_nextRead {};
};

} // namespace

PMPhotoBoothSpecialContentValidator::PMPhotoBoothSpecialContentValidator(LibraryPathSource source)
    : m_source(std::move(source))
{
}

QString PMPhotoBoothSpecialContentValidator::name() const
{
    return QStringLiteral("PMPhotoBoothSpecialContentValidator");
}

bool PMPhotoBoothSpecialContentValidator::matchSpecialContent(const QString &path, bool &shouldCopy) const
{
    const QString library = m_source ? m_source() : QString();
    // An empty location would be a prefix of every path and copy everything as a picture.
    shouldCopy = !library.isEmpty() && path.startsWith(library);
    return true;
}

QString PMPhotoBoothSpecialContentValidator::preferenceFilePath()
{
    return PMPreferenceDomains::filePath(PMPreferenceDomains::kPhotoBooth);
}

PMPhotoBoothSpecialContentValidator::LibraryPathSource PMPhotoBoothSpecialContentValidator::preferenceSource()
{
    auto preference = std::make_shared<ThrottledPreference>();
    return [preference] { return preference->libraryPath(); };
}
