// Why the media filter left a file out, recorded where the decision fell: a temporary or
// never-synced name or path, a name no list of the drive's device class takes, a codec rule
// that refused the file's contents (and on which property), contents no rule speaks for, or
// the 4 GiB limit of the drive's file system.
//
//   PMFilterRefusal why;
//   if (!validator.shouldCopyItem(path, baseName, limitTo4G, nullptr, &why))
//       out << path << ": " << why.text();
//
// A plain value; any thread.
#pragma once

#include <QString>

struct PMFilterRefusal {
    enum class Kind {
        None, // not refused, or refused for no reason worth telling (a pending cancel)
        TemporaryName, // the sync engine's own temporary files and folders
        NeverSyncedName,
        NeverSyncedPath,
        NoLists, // every media category is switched off
        CategoryOff, // the name belongs to a category that is switched off (category says which)
        NameNotListed, // no list of the device class takes this name
        CodecRule, // a codec rule spoke for the contents and refused them (rule, property)
        NoRuleForContents, // the name matched, but no rule spoke for what the file holds
        Over4G, // a list would copy it, but the drive's file system cannot hold it
    };
    // What a codec rule refused.
    enum class Property { None, PictureSize, FrameRate, AudioCodec, SampleRate, Channels };

    Kind kind = Kind::None;
    Property property = Property::None;
    // The codec rule (CodecRule), the category (CategoryOff), the name or path (names).
    QString subject;
    // What the file has against what the rule allows, as words ("1280 x 720 over 640 x 480").
    QString detail;

    bool isSet() const { return kind != Kind::None; }
    // One line for a person: "picture size 1280 x 720 over 640 x 480 (rule PMH264LowCodecValidator)".
    QString text() const;
    // The property's name as the line shows it ("frame rate"); empty for None.
    static QString propertyName(Property property);
};
