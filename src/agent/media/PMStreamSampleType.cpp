#include "agent/media/PMStreamSampleType.h"

#include "agent/media/PMMediaCodecCodes.h"

#include <cstring>

namespace PMStreamSampleType {

namespace {

using PMMediaCodecCodes::fourCC;

struct IdType {
    AVCodecID id;
    quint32 type;
};

// The sample-description type a QuickTime file would carry for each codec.
constexpr IdType kVideoByCodecId[] = {
    { AV_CODEC_ID_H264, fourCC("avc1") },
    { AV_CODEC_ID_MPEG4, fourCC("mp4v") },
    { AV_CODEC_ID_MJPEG, fourCC("jpeg") },
    { AV_CODEC_ID_MJPEGB, fourCC("mjpb") },
    { AV_CODEC_ID_QTRLE, fourCC("rle ") },
    { AV_CODEC_ID_RAWVIDEO, fourCC("raw ") },
    { AV_CODEC_ID_CINEPAK, fourCC("cvid") },
    { AV_CODEC_ID_SMC, fourCC("smc ") },
    { AV_CODEC_ID_RPZA, fourCC("rpza") },
    { AV_CODEC_ID_JPEG2000, fourCC("mjp2") },
    { AV_CODEC_ID_MSRLE, fourCC("WRLE") },
    { AV_CODEC_ID_H261, fourCC("h261") },
    { AV_CODEC_ID_H263, fourCC("h263") },
    { AV_CODEC_ID_H263P, fourCC("h263") },
    { AV_CODEC_ID_DVVIDEO, fourCC("dvc ") },
    { AV_CODEC_ID_PNG, fourCC("png ") },
};

constexpr quint32 kDVIADPCMType = (quint32('m') << 24) | (quint32('s') << 16) | 0x0011u;

constexpr IdType kAudioByCodecId[] = {
    { AV_CODEC_ID_AAC, fourCC("mp4a") },
    { AV_CODEC_ID_MP3, fourCC(".mp3") },
    { AV_CODEC_ID_ALAC, fourCC("alac") },
    { AV_CODEC_ID_PCM_S16BE, fourCC("twos") },
    { AV_CODEC_ID_PCM_S8, fourCC("twos") },
    { AV_CODEC_ID_PCM_S16LE, fourCC("sowt") },
    { AV_CODEC_ID_PCM_S24BE, fourCC("lpcm") },
    { AV_CODEC_ID_PCM_S24LE, fourCC("lpcm") },
    { AV_CODEC_ID_PCM_S32BE, fourCC("lpcm") },
    { AV_CODEC_ID_PCM_S32LE, fourCC("lpcm") },
    { AV_CODEC_ID_PCM_F32BE, fourCC("fl32") },
    { AV_CODEC_ID_PCM_F32LE, fourCC("fl32") },
    { AV_CODEC_ID_PCM_F64BE, fourCC("fl64") },
    { AV_CODEC_ID_PCM_F64LE, fourCC("fl64") },
    { AV_CODEC_ID_PCM_MULAW, fourCC("ulaw") },
    { AV_CODEC_ID_PCM_ALAW, fourCC("alaw") },
    { AV_CODEC_ID_MACE3, fourCC("MAC3") },
    { AV_CODEC_ID_MACE6, fourCC("MAC6") },
    { AV_CODEC_ID_ADPCM_IMA_QT, fourCC("ima4") },
    { AV_CODEC_ID_QCELP, fourCC("Qclp") },
    { AV_CODEC_ID_QDM2, fourCC("QDM2") },
    { AV_CODEC_ID_QDMC, fourCC("QDMC") },
    { AV_CODEC_ID_AC3, fourCC("ac-3") },
    { AV_CODEC_ID_AMR_NB, fourCC("samr") },
    { AV_CODEC_ID_ILBC, fourCC("ilbc") },
    { AV_CODEC_ID_ADPCM_IMA_WAV, kDVIADPCMType },
};

quint32 bigEndianType(quint32 codecTag)
{
    return ((codecTag & 0xFFu) << 24) | ((codecTag & 0xFF00u) << 8) | ((codecTag >> 8) & 0xFF00u)
        | ((codecTag >> 24) & 0xFFu);
}

template<std::size_t N> quint32 typeForId(const IdType (&table)[N], AVCodecID id, quint32 fallback)
{
    for (const IdType &entry : table)
        if (entry.id == id)
            return entry.type;
    return fallback;
}

} // namespace

Container containerForDemuxer(const char *demuxerName)
{
    if (!demuxerName)
        return Container::Other;
    if (std::strstr(demuxerName, "mov"))
        return Container::MovFamily;
    if (std::strcmp(demuxerName, "avi") == 0)
        return Container::Avi;
    return Container::Other;
}

quint32 videoType(AVCodecID codecId, quint32 codecTag, Container container)
{
    const quint32 written = bigEndianType(codecTag);
    if (container == Container::MovFamily && codecTag != 0
        && !(written == fourCC("mp4v") && codecId != AV_CODEC_ID_MPEG4))
        return written;
    if (codecId == AV_CODEC_ID_MJPEG && container == Container::Avi)
        return fourCC("dmb1");
    return typeForId(kVideoByCodecId, codecId, written);
}

quint32 audioType(AVCodecID codecId, quint32 codecTag, Container container)
{
    const quint32 written = bigEndianType(codecTag);
    if (container == Container::MovFamily && codecTag != 0
        && !(written == fourCC("mp4a") && codecId != AV_CODEC_ID_AAC))
        return written;
    return typeForId(kAudioByCodecId, codecId, written);
}

} // namespace PMStreamSampleType
