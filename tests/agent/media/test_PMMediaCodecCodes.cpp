// Four-character sample-description types to codec codes, and the name patterns' direct
// matcher against regexec.
#include "agent/media/PMMediaCodecCodes.h"
#include "agent/media/PMMediaLists.h"
#include "agent/media/PMNamePattern.h"

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

// Names that probe every shape of pattern the lists use.
const std::vector<QByteArray> kNames = {
    "movie.mp4",
    "movie.MP4",
    "Movie.Mp4",
    "movie.mp4.bak",
    "movie.mp4v",
    "mp4",
    ".mp4",
    "movie.m4v",
    "x.mov",
    "Foo.3g2.bak",
    "Foo.3G2",
    "foo.3gp2",
    "foo.3gpp",
    "foo3g2",
    "a.3g",
    "Library.photolibrary",
    ".photolibrary",
    "photolibrary",
    "x.PHOTOLIBRARY.old",
    "aphotolibrary",
    "book.azw",
    "book.AZW3",
    "book.azw0",
    "book.azw10",
    "book.azw9",
    "book.azwx",
    "",
    ".",
    "..",
    "a\nb.mp4",
    "a.mp4\n",
    "résumé.pdf",
    "фото.JPG",
    "日本語.mkv",
    "x.tiff",
    "x.tif",
    "x.TIF.f",
    "song.m4a",
    "book.m4b",
    "clip.ts",
    "clip.tsx",
    "clip.t",
    "x.doc",
    "x.docx",
    "x.key",
    "notes.txt",
    "a.html",
    "a.htm",
    "tape.3gp",
    "x.wm",
    "x.wmv",
    "readme",
};

TEST(PMNamePattern, directMatchingAgreesWithRegexecForEveryListPattern)
{
    const PMMediaLists &tables = PMMediaLists::shared();
    int direct = 0;
    for (const QString &list : tables.listNames()) {
        for (const auto &validator : tables.list(list)) {
            const PMNamePattern &pattern = validator->pattern();
            direct += pattern.hasDirectMatcher() ? 1 : 0;
            for (const QByteArray &name : kNames)
                EXPECT_EQ(pattern.matches(name), pattern.matchesWithRegex(name))
                    << pattern.pattern().constData() << " on " << name.constData();
        }
    }
    EXPECT_GT(direct, 0);
}

TEST(PMNamePattern, patternsFollowTheirPublishedMeaning)
{
    struct Case {
        const char *pattern;
        const char *name;
        bool matches;
    };
    const Case cases[] = {
        { R"(.*\.mp4$)", "movie.MP4", true },
        { R"(.*\.mp4$)", "movie.mp4.bak", false },
        { R"(.*\.3g2)", "Foo.3g2.bak", true },
        { R"(.*\.3g2$)", "Foo.3g2.bak", false },
        { R"(.photolibrary)", "Trip.photolibrary", true },
        { R"(.photolibrary)", "photolibrary", false },
        { R"(.*\.azw[1-9]?$)", "book.azw", true },
        { R"(.*\.azw[1-9]?$)", "book.azw7", true },
        { R"(.*\.azw[1-9]?$)", "book.azw0", false },
        { R"(.*)", "", true },
    };
    for (const Case &c : cases) {
        PMNamePattern pattern(c.pattern, true);
        EXPECT_EQ(pattern.matches(c.name), c.matches) << c.pattern << " on " << c.name;
        EXPECT_EQ(pattern.matchesWithRegex(c.name), c.matches) << c.pattern << " on " << c.name;
    }
}

TEST(PMNamePattern, caseSensitivePatternsAndOtherShapesStillWork)
{
    PMNamePattern sensitive(R"(.*\.mp4$)", false);
    EXPECT_TRUE(sensitive.matches("a.mp4"));
    EXPECT_FALSE(sensitive.matches("a.MP4"));

    PMNamePattern anchored("^IMG_[0-9]+\\.(jpg|png)$", true);
    EXPECT_FALSE(anchored.hasDirectMatcher());
    EXPECT_TRUE(anchored.matches("img_0042.PNG"));
    EXPECT_FALSE(anchored.matches("xIMG_0042.png"));

    PMNamePattern broken("(unclosed", true);
    EXPECT_FALSE(broken.isValid());
    EXPECT_NE(broken.compileStatus(), 0);
    EXPECT_FALSE(broken.matches("(unclosed"));
}

} // namespace
