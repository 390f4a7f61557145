// Which media lists apply to a drive: the device class derived from the drive's device filter,
// and per category the list for that class, or nothing when the category is switched off.
//
//   PMMediaExtensionLists lists;
//   lists.updateCategory(PMMediaCategory::Movies, syncMovies, deviceFilter);   // and the others
//   validator.addContainerValidators(lists.mediaFileExtensions());
//
// A value; not synchronized. The lists it hands out are the shared immutable tables.
#pragma once

#include "agent/media/PMMediaLists.h"

#include <QString>

enum class PMMediaCategory { Movies, Music, Pictures, Documents };

class PMMediaExtensionLists {
public:
    static constexpr int kDeviceClassCount = 8;

    // The device class of a device filter value: 1 → 2, 2 → 3, 3 → 2, 4 → 1, 5 → 4, 6 → 5,
    // 7 → 6, 8 → 7; 0 and every other value → 0 (no device filter).
    static int deviceClassForFilter(int deviceFilter);
    // The table name for a category and device class ("pmfv_apple_low_V"); class 0's name for
    // a class outside 0..7.
    static QString listName(PMMediaCategory category, int deviceClass);
    static const PMMediaLists::List &listFor(PMMediaCategory category, int deviceClass);

    // Recomputes one category's list for a drive: empty when switched off.
    void updateCategory(PMMediaCategory category, bool enabled, int deviceFilter);
    void updateAll(bool movies, bool music, bool pictures, bool documents, int deviceFilter);

    const PMMediaLists::List &movieFileExtensions() const { return m_movies; }
    const PMMediaLists::List &musicFileExtensions() const { return m_music; }
    const PMMediaLists::List &pictureFileExtensions() const { return m_pictures; }
    const PMMediaLists::List &documentFileExtensions() const { return m_documents; }
    // Movies, music, pictures and documents, in that order.
    PMMediaLists::List mediaFileExtensions() const;

private:
    PMMediaLists::List m_movies;
    PMMediaLists::List m_music;
    PMMediaLists::List m_pictures;
    PMMediaLists::List m_documents;
};
