#include "agent/media/PMMediaCodecCodes.h"

#include "agent/media/PMMediaLog.h"

namespace PMMediaCodecCodes {

namespace {

struct TypeCode {
    quint32 type;
    int code;
};

constexpr TypeCode kVideoTypes[] = {
    { fourCC("avc1"), kVideoH264 },
    // Other sample-entry names of the same codecs: H.264 with parameter sets in band, and
    // H.263 as 3GPP writes it ("s263") or as H.263+ ("H263"). Without them an H.263 ".3gp",
    // which the device rules accept, would read as an unknown codec.
    { fourCC("avc3"), kVideoH264 },
    { fourCC("mp4v"), kVideoMPEG4 },
    { fourCC("dmb1"), kVideoWindowsMJPEG },
    { fourCC("mjpa"), kVideoMotionJPEG },
    { fourCC("mjpb"), kVideoMotionJPEG },
    { fourCC("rle "), kVideoAnimation },
    { fourCC("raw "), kVideoRaw },
    { fourCC("cvid"), kVideoCinepak },
    { fourCC("smc "), kVideoGraphics },
    { fourCC("FMP4"), kVideoGraphics },
    { fourCC("rpza"), kVideoRoadPizza },
    { fourCC("yuv2"), kVideoComponent },
    { fourCC("yuvs"), kVideoComponent },
    { fourCC("yuvu"), kVideoComponent },
    { fourCC("jpeg"), kVideoPhotoJPEG },
    { fourCC("mjp2"), kVideoJPEG2000 },
    { fourCC("WRLE"), kVideoWindowsRLE },
    { fourCC("h261"), kVideoH261 },
    { fourCC("h263"), kVideoH263 },
    { fourCC("s263"), kVideoH263 },
    { fourCC("H263"), kVideoH263 },
    { fourCC("dvc "), kVideoDV },
    { fourCC("dvcp"), kVideoDV },
    { fourCC("icod"), kVideoIcon },
    { fourCC("drmi"), kVideoProtected },
    { fourCC("png "), kVideoPNG },
    { fourCC("WRAW"), kVideoWindowsRaw },
};

constexpr quint32 kDVIADPCMType = (quint32('m') << 24) | (quint32('s') << 16) | 0x0011u;

constexpr TypeCode kAudioTypes[] = {
    { fourCC("aac "), kAudioAAC },
    { fourCC("mp4a"), kAudioAAC },
    { fourCC("aach"), kAudioAAC },
    { fourCC("aacl"), kAudioAAC },
    { fourCC("aacp"), kAudioAAC },
    { fourCC("aacs"), kAudioAAC },
    { fourCC(".mp3"), kAudioMP3 },
    { fourCC("mp3 "), kAudioMP3 },
    { fourCC("alac"), kAudioAppleLossless },
    { fourCC("twos"), kAudioPCM },
    { fourCC("sowt"), kAudioPCM },
    { fourCC("lpcm"), kAudioPCM },
    { fourCC("fl32"), kAudioPCM },
    { fourCC("fl64"), kAudioPCM },
    { fourCC("ulaw"), kAudioULaw },
    { fourCC("alaw"), kAudioALaw },
    { fourCC("AUDB"), kAudioAudible },
    { fourCC("MAC3"), kAudioMACE },
    { fourCC("MAC6"), kAudioMACE },
    { fourCC("ima4"), kAudioIMA4 },
    { fourCC("Qclp"), kAudioQCELP },
    { fourCC("QDM2"), kAudioQDesign },
    { fourCC("QDMC"), kAudioQDesign },
    { fourCC("ac-3"), kAudioAC3 },
    { fourCC("samr"), kAudioAMR },
    { fourCC("ilbc"), kAudioILBC },
    { fourCC("drms"), kAudioProtectedAAC },
    { fourCC("soun"), kAudioGeneric },
    { fourCC("qtim"), kAudioGeneric },
    { fourCC("gnrc"), kAudioGeneric },
    { fourCC("midi"), kAudioMIDI },
    { kDVIADPCMType, kAudioDVIADPCM },
};

template<std::size_t N> int lookUp(const TypeCode (&table)[N], quint32 type)
{
    for (const TypeCode &entry : table)
        if (entry.type == type)
            return entry.code;
    return 0;
}

} // namespace

QString typeText(quint32 type)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = char((type >> shift) & 0xFF);
        if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(uint(quint8(byte)), 2, 16, QLatin1Char('0'));
    }
    return text;
}

int videoCodeForType(quint32 type)
{
    const int code = lookUp(kVideoTypes, type);
    if (code == 0)
        qCInfo(lcMedia).noquote() << QStringLiteral("unknown video codec %1").arg(type, 0, 16);
    return code;
}

int audioCodeForType(quint32 type)
{
    const int code = lookUp(kAudioTypes, type);
    if (code == 0)
        qCInfo(lcMedia).noquote() << QStringLiteral("unknown audio codec %1").arg(type, 0, 16);
    return code;
}

namespace {

QString named(const char *name, int code)
{
    return QStringLiteral("%1 (%2)").arg(QLatin1String(name)).arg(code);
}

} // namespace

QString videoCodeName(int code)
{
    switch (code) {
    case kVideoH264:
        return named("H.264", code);
    case kVideoMPEG4:
        return named("MPEG-4", code);
    case kVideoWindowsMJPEG:
        return named("Windows Motion JPEG", code);
    case kVideoMotionJPEG:
        return named("Motion JPEG", code);
    case kVideoAnimation:
        return named("Animation", code);
    case kVideoRaw:
        return named("raw", code);
    case kVideoCinepak:
        return named("Cinepak", code);
    case kVideoGraphics:
        return named("Graphics", code);
    case kVideoRoadPizza:
        return named("Road Pizza", code);
    case kVideoComponent:
        return named("component video", code);
    case kVideoPhotoJPEG:
        return named("Photo JPEG", code);
    case kVideoJPEG2000:
        return named("JPEG 2000", code);
    case kVideoWindowsRLE:
        return named("Windows RLE", code);
    case kVideoH261:
        return named("H.261", code);
    case kVideoH263:
        return named("H.263", code);
    case kVideoDV:
        return named("DV", code);
    case kVideoIcon:
        return named("icon", code);
    case kVideoProtected:
        return named("protected video", code);
    case kVideoPNG:
        return named("PNG", code);
    case kVideoWindowsRaw:
        return named("Windows raw", code);
    default:
        return named("unknown", code);
    }
}

QString audioCodeName(int code)
{
    switch (code) {
    case kAudioAAC:
        return named("AAC", code);
    case kAudioMP3:
        return named("MP3", code);
    case kAudioAppleLossless:
        return named("Apple Lossless", code);
    case kAudioPCM:
        return named("PCM", code);
    case kAudioULaw:
        return named("u-law", code);
    case kAudioALaw:
        return named("A-law", code);
    case kAudioAudible:
        return named("Audible", code);
    case kAudioMACE:
        return named("MACE", code);
    case kAudioIMA4:
        return named("IMA 4:1", code);
    case kAudioQCELP:
        return named("QCELP", code);
    case kAudioQDesign:
        return named("QDesign", code);
    case kAudioAC3:
        return named("AC-3", code);
    case kAudioAMR:
        return named("AMR", code);
    case kAudioILBC:
        return named("iLBC", code);
    case kAudioProtectedAAC:
        return named("protected AAC", code);
    case kAudioGeneric:
        return named("generic sound", code);
    case kAudioMIDI:
        return named("MIDI", code);
    case kAudioDVIADPCM:
        return named("DVI ADPCM", code);
    default:
        return named("unknown", code);
    }
}

} // namespace PMMediaCodecCodes
