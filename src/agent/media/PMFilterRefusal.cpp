#include "agent/media/PMFilterRefusal.h"

QString PMFilterRefusal::propertyName(Property property)
{
    switch (property) {
    case Property::PictureSize:
        return QStringLiteral("picture size");
    case Property::FrameRate:
        return QStringLiteral("frame rate");
    case Property::AudioCodec:
        return QStringLiteral("audio codec");
    case Property::SampleRate:
        return QStringLiteral("sample rate");
    case Property::Channels:
        return QStringLiteral("channels");
    case Property::None:
        break;
    }
    return QString();
}

QString PMFilterRefusal::text() const
{
    switch (kind) {
    case Kind::None:
        return QString();
    case Kind::TemporaryName:
        return QStringLiteral("a temporary file of a sync");
    case Kind::NeverSyncedName:
        return QStringLiteral("the name \"%1\" is never synced").arg(subject);
    case Kind::NeverSyncedPath:
        return QStringLiteral("the folder \"%1\" is never synced").arg(subject);
    case Kind::NoLists:
        return QStringLiteral("every media category is switched off");
    case Kind::CategoryOff:
        return QStringLiteral("category switched off: %1").arg(subject);
    case Kind::NameNotListed:
        return QStringLiteral("extension not in the device class's list: %1").arg(subject);
    case Kind::CodecRule: {
        const QString what = propertyName(property);
        if (what.isEmpty())
            return QStringLiteral("refused by codec rule %1").arg(subject);
        return QStringLiteral("%1 %2 (codec rule %3)").arg(what, detail, subject);
    }
    case Kind::NoRuleForContents:
        return QStringLiteral("no codec rule takes its contents: %1").arg(detail);
    case Kind::Over4G:
        return QStringLiteral("over the FAT limit: %1").arg(detail);
    }
    return QString();
}
