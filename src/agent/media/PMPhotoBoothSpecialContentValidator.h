// Claims every file inside the Photo Booth library for the pictures category, whatever its
// name: the library's location is the "LibraryPath" value of the "com.apple.PhotoBooth"
// preference domain, and a path that begins with it (plain prefix) is copied.
//
//   PMPhotoBoothSpecialContentValidator rule(PMPhotoBoothSpecialContentValidator::preferenceSource());
//
// Without a location every file is matched with the verdict "not copied", which leaves it to
// later entries. Immutable after construction; the default source is thread-safe.
#pragma once

#include "agent/media/PMSpecialContentValidator.h"

#include <functional>

class PMPhotoBoothSpecialContentValidator final : public PMSpecialContentValidator {
public:
    using LibraryPathSource = std::function<QString()>;

    explicit PMPhotoBoothSpecialContentValidator(LibraryPathSource source);

    bool matchSpecialContent(const QString &path, bool &shouldCopy) const override;
    QString name() const override;

    // The preference domain's file on this system, "com.apple.PhotoBooth.plist" in the
    // agent's preferences folder.
    static QString preferenceFilePath();
    // Reads "LibraryPath" from that file; a changed file is seen within half a second, so a
    // scan of many names does not examine the file for each one.
    static LibraryPathSource preferenceSource();

private:
    LibraryPathSource m_source;
};
