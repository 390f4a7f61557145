#include "agent/media/PMMediaExtensionLists.h"

#include <array>

namespace {

struct ClassLists {
    const char *movies;
    const char *music;
    const char *pictures;
    const char *documents;
};

constexpr std::array<ClassLists, PMMediaExtensionLists::kDeviceClassCount> kListsByClass = { {
    { "pmfv_unlim_V", "pmfv_unlim_A", "pmfv_unlim_P", "pmfv_unlim_D" },
    { "pmfv_apple_low_V", "pmfv_apple_A", "pmfv_apple_P", "pmfv_apple_D" },
    { "pmfv_apple_high_V", "pmfv_apple_A", "pmfv_apple_P", "pmfv_apple_D" },
    { "pmfv_apple_unlim_V", "pmfv_apple_unlim_A", "pmfv_apple_P", "pmfv_apple_D" },
    { "pmfv_android_ics_V", "pmfv_android_ics_A", "pmfv_android_ics_P", "pmfv_android_ics_D" },
    { "pmfv_kindle_fire_V", "pmfv_kindle_fire_A", "pmfv_kindle_fire_P", "pmfv_kindle_fire_D" },
    { "pmfv_kindle_fire_HD_V", "pmfv_kindle_fire_HD_A", "pmfv_kindle_fire_P", "pmfv_kindle_fire_D" },
    { "pmfv_microsoft_windowsrt_V", "pmfv_microsoft_windowsrt_A", "pmfv_microsoft_windowsrt_P",
        "pmfv_microsoft_windowsrt_D" },
} };

constexpr std::array<int, 9> kClassByFilter = { 0, 2, 3, 2, 1, 4, 5, 6, 7 };

} // namespace

int PMMediaExtensionLists::deviceClassForFilter(int deviceFilter)
{
    if (deviceFilter < 1 || deviceFilter >= int(kClassByFilter.size()))
        return 0;
    return kClassByFilter[std::size_t(deviceFilter)];
}

QString PMMediaExtensionLists::listName(PMMediaCategory category, int deviceClass)
{
    if (deviceClass < 0 || deviceClass >= kDeviceClassCount)
        deviceClass = 0;
    const ClassLists &lists = kListsByClass[std::size_t(deviceClass)];
    switch (category) {
    case PMMediaCategory::Movies:
        return QString::fromLatin1(lists.movies);
    case PMMediaCategory::Music:
        return QString::fromLatin1(lists.music);
    case PMMediaCategory::Pictures:
        return QString::fromLatin1(lists.pictures);
    case PMMediaCategory::Documents:
        return QString::fromLatin1(lists.documents);
    }
    return QString();
}

const PMMediaLists::List &PMMediaExtensionLists::listFor(PMMediaCategory category, int deviceClass)
{
    return PMMediaLists::shared().list(listName(category, deviceClass));
}

void PMMediaExtensionLists::updateCategory(PMMediaCategory category, bool enabled, int deviceFilter)
{
    PMMediaLists::List lists;
    if (enabled)
        lists = listFor(category, deviceClassForFilter(deviceFilter));
    switch (category) {
    case PMMediaCategory::Movies:
        m_movies = std::move(lists);
        break;
    case PMMediaCategory::Music:
        m_music = std::move(lists);
        break;
    case PMMediaCategory::Pictures:
        m_pictures = std::move(lists);
        break;
    case PMMediaCategory::Documents:
        m_documents = std::move(lists);
        break;
    }
}

void PMMediaExtensionLists::updateAll(bool movies, bool music, bool pictures, bool documents, int deviceFilter)
{
    updateCategory(PMMediaCategory::Movies, movies, deviceFilter);
    updateCategory(PMMediaCategory::Music, music, deviceFilter);
    updateCategory(PMMediaCategory::Pictures, pictures, deviceFilter);
    updateCategory(PMMediaCategory::Documents, documents, deviceFilter);
}

PMMediaLists::List PMMediaExtensionLists::mediaFileExtensions() const
{
    PMMediaLists::List all;
    all.reserve(m_movies.size() + m_music.size() + m_pictures.size() + m_documents.size());
    for (const auto *part : { &m_movies, &m_music, &m_pictures, &m_documents })
        all.insert(all.end(), part->begin(), part->end());
    return all;
}
