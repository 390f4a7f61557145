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

} // namespace PMMediaCodecCodes
