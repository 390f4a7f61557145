// Four-character sample-description types to codec codes.
#include "agent/media/PMMediaCodecCodes.h"

#include <gtest/gtest.h>

namespace {

using PMMediaCodecCodes::fourCC;

quint32 typeFromBytes(const char *bytes)
{
    return (quint32(quint8(bytes[0])) << 24) | (quint32(quint8(bytes[1])) << 16) | (quint32(quint8(bytes[2])) << 8)
        | quint32(quint8(bytes[3]));
}

TEST(PMMediaCodecCodes, videoTypesMapToTheirCodes)
{
    const std::vector<std::pair<const char *, int>> table = {
        { "avc1", 1 },
        { "mp4v", 2 },
        { "dmb1", 3 },
        { "mjpa", 4 },
        { "mjpb", 4 },
        { "rle ", 6 },
        { "raw ", 7 },
        { "cvid", 8 },
        { "smc ", 9 },
        { "FMP4", 9 },
        { "rpza", 10 },
        { "yuv2", 11 },
        { "yuvs", 11 },
        { "yuvu", 11 },
        { "jpeg", 12 },
        { "mjp2", 13 },
        { "WRLE", 14 },
        { "h261", 15 },
        { "h263", 16 },
        { "dvc ", 17 },
        { "dvcp", 17 },
        { "icod", 18 },
        { "drmi", 19 },
        { "png ", 20 },
        { "WRAW", 22 },
        // Other entry names of listed codecs.
        { "s263", 16 },
        { "H263", 16 },
        { "avc3", 1 },
        // Codecs the table lacks, and case matters.
        { "hvc1", 0 },
        { "av01", 0 },
        { "AVC1", 0 },
        { "mp4a", 0 },
    };
    for (const auto &[type, code] : table)
        EXPECT_EQ(PMMediaCodecCodes::videoCodeForType(typeFromBytes(type)), code) << type;
}

TEST(PMMediaCodecCodes, audioTypesMapToTheirCodes)
{
    const std::vector<std::pair<const char *, int>> table = {
        { "aac ", 1 },
        { "mp4a", 1 },
        { "aach", 1 },
        { "aacl", 1 },
        { "aacp", 1 },
        { "aacs", 1 },
        { ".mp3", 2 },
        { "mp3 ", 2 },
        { "alac", 3 },
        { "twos", 6 },
        { "sowt", 6 },
        { "lpcm", 6 },
        { "fl32", 6 },
        { "fl64", 6 },
        { "ulaw", 7 },
        { "alaw", 8 },
        { "AUDB", 9 },
        { "MAC3", 10 },
        { "MAC6", 10 },
        { "ima4", 11 },
        { "Qclp", 12 },
        { "QDM2", 13 },
        { "QDMC", 13 },
        { "ac-3", 14 },
        { "samr", 15 },
        { "ilbc", 16 },
        { "drms", 17 },
        { "soun", 18 },
        { "qtim", 18 },
        { "gnrc", 18 },
        { "midi", 19 },
        { "ec-3", 0 },
        { "Opus", 0 },
        { "fLaC", 0 },
        { "avc1", 0 },
    };
    for (const auto &[type, code] : table)
        EXPECT_EQ(PMMediaCodecCodes::audioCodeForType(typeFromBytes(type)), code) << type;
    const char dvi[4] = { 'm', 's', 0x00, 0x11 };
    EXPECT_EQ(PMMediaCodecCodes::audioCodeForType(typeFromBytes(dvi)), 20);
    const char otherWave[4] = { 'm', 's', 0x00, 0x02 };
    EXPECT_EQ(PMMediaCodecCodes::audioCodeForType(typeFromBytes(otherWave)), 0);
}

TEST(PMMediaCodecCodes, typesPrintReadably)
{
    EXPECT_EQ(fourCC("avc1"), 0x61766331u);
    EXPECT_EQ(PMMediaCodecCodes::typeText(fourCC("rle ")), QStringLiteral("rle "));
    EXPECT_EQ(PMMediaCodecCodes::typeText(0x6d730011u), QStringLiteral("ms\\x00\\x11"));
}

} // namespace
