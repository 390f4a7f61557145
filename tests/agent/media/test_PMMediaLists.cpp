// The media lists are data: these tests compare them, entry by entry, with an independent
// transcription of the published tables, so an accidental edit of a pattern, a rule, a count
// or an order fails here.
#include "agent/media/PMCodecValidator.h"
#include "agent/media/PMMediaLists.h"
#include "agent/media/PMSpecialContentValidator.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

// The tables as published, one list per line: name, entry count, entries in stored order.
const char *const kPublishedLists = R"TABLES(
- `pmfv_unlim_V` (34): ".*\.3gp$"; ".*\.3g2$"; ".*\.3gp2$"; ".*\.3gpp$"; ".*\.asf$"; ".*\.avi$"; ".*\.dat$"; ".*\.divx$"; ".*\.flv$"; ".*\.ifo$"; ".*\.iso$"; ".*\.m2ts$"; ".*\.mkv$"; ".*\.mp4$"; ".*\.m4v$"; ".*\.mp4v$"; ".*\.mpeg$"; ".*\.mpg$"; ".*\.mts$"; ".*\.rm$"; ".*\.rmvb$"; ".*\.sami$"; ".*\.smi$"; ".*\.srt$"; ".*\.sub$"; ".*\.tp$"; ".*\.trp$"; ".*\.ts$"; ".*\.vob$"; ".*\.webm$"; ".*\.wm$"; ".*\.wmv$"; ".*\.xvid$"; ".*\.mov$".
- `pmfv_apple_low_V` (3): ".*\.mp4$" [MP4, H264Low, DRMVLow]; ".*\.m4v$" [MP4, H264Low, DRMVLow]; ".*\.mov$" [MP4, H264Low, DRMVLow].
- `pmfv_apple_high_V` (4): ".*\.mp4$" [MP4, H264High, DRMVHigh]; ".*\.m4v$" [MP4, H264High, DRMVHigh]; ".*\.mov$" [MP4, H264High, DRMVHigh]; ".*\.avi$" [WindowsMJPEG].
- `pmfv_apple_unlim_V` (4): ".*\.mp4$" [MP4Unlimited, H264Unlimited, DRMVUnlimited, UnlimitedPJPEG]; ".*\.m4v$" [MP4Unlimited, H264Unlimited, DRMVUnlimited, UnlimitedPJPEG]; ".*\.mov$" [MP4Unlimited, H264Unlimited, DRMVUnlimited, UnlimitedPJPEG]; ".*\.avi$" [UnlimitedWindowsMJPEG].
- `pmfv_android_ics_V` (5): ".*\.mkv$"; ".*\.webm$"; ".*\.ts$"; ".*\.3gp$" [MPEG4KindleFire, H263KindleFire, H264KindleFire]; ".*\.mp4$" [H264KindleFire, H263KindleFire].
- `pmfv_kindle_fire_V` (3): ".*\.webm$"; ".*\.mp4$" [H264KindleFire, H263KindleFire]; ".*\.3gp$" [MPEG4KindleFire, H263KindleFire, H264KindleFire].
- `pmfv_kindle_fire_HD_V` (3): ".*\.webm$"; ".*\.mp4$" [H264KindleFireHD, H263KindleFireHD]; ".*\.3gp$" [MPEG4KindleFire, H263KindleFire, H264KindleFire].
- `pmfv_microsoft_windowsrt_V` (12): ".*\.3gp$" [H263Unlimited, H264Unlimited, MP4Unlimited]; ".*\.3g2" [H263Unlimited, H264Unlimited, MP4Unlimited]; ".*\.3gp2$" [H263Unlimited, H264Unlimited, MP4Unlimited]; ".*\.3gpp$" [H263Unlimited, H264Unlimited, MP4Unlimited]; ".*\.m4v$" [H264WinRT, H264WindowsRT, MPEG4WinRTLimited]; ".*\.mp4v$" [H264WinRT, H264WindowsRT, MPEG4WinRTLimited]; ".*\.mp4$" [H264WinRT, H264WindowsRT, MPEG4WinRTLimited]; ".*\.mov$" [H264WinRT, H264WindowsRT, MPEG4WinRTLimited]; ".*\.asf$"; ".*\.wm$"; ".*\.wmv$"; ".*\.avi$".
- `pmfv_unlim_A` (29): ".*\.aac$"; ".*\.ac3$"; ".*\.ec3$"; ".*\.adt$"; ".*\.adts$"; ".*\.asf$"; ".*\.flac$"; ".*\.imy$"; ".*\.m4a$"; ".*\.m4b$"; ".*\.mid$"; ".*\.midi$"; ".*\.mp3$"; ".*\.mp4$"; ".*\.mxmf$"; ".*\.ogg$"; ".*\.ota$"; ".*\.ra$"; ".*\.rm$"; ".*\.rmvb$"; ".*\.rtttl$"; ".*\.rtx$"; ".*\.wav$"; ".*\.wma$"; ".*\.m3u$"; ".*\.pls$"; ".*\.mov$"; ".*\.xmf$"; ".*\.3gp$" [AudioKindleFire].
- `pmfv_apple_A` (8): ".*\.aac$"; ".*\.mp3$"; ".*\.wav$"; ".*\.aiff$"; ".*\.m4a$" [AudioOnly]; ".*\.m4b$" [AudioBook]; ".*\.mp4$" [AudioOnly]; ".*\.mov$" [AudioOnly].
- `pmfv_apple_unlim_A` (8): ".*\.aac$"; ".*\.mp3$"; ".*\.wav$"; ".*\.aiff$"; ".*\.m4a$" [UnlimitedAudioOnly]; ".*\.m4b$" [UnlimitedAudioBook]; ".*\.mp4$" [UnlimitedAudioOnly]; ".*\.mov$" [UnlimitedAudioOnly].
- `pmfv_android_ics_A` (15): ".*\.aac$"; ".*\.flac$"; ".*\.imy$"; ".*\.mid$"; ".*\.midi$"; ".*\.mp3$"; ".*\.mxmf$"; ".*\.ogg$"; ".*\.ota$"; ".*\.rtttl$"; ".*\.rtx$"; ".*\.wav$"; ".*\.xmf$"; ".*\.m4a$" [AudioKindleFire]; ".*\.3gp$" [AudioKindleFire].
- `pmfv_kindle_fire_A` (8): ".*\.aac$"; ".*\.mid$"; ".*\.midi$"; ".*\.mp3$"; ".*\.ogg$"; ".*\.wav$"; ".*\.m4a$" [AudioKindleFire]; ".*\.3gp$" [AudioKindleFire].
- `pmfv_kindle_fire_HD_A` (10): ".*\.aac$"; ".*\.ac3$"; ".*\.ec3$"; ".*\.mid$"; ".*\.midi$"; ".*\.mp3$"; ".*\.ogg$"; ".*\.wav$"; ".*\.m4a$" [AudioKindleFire]; ".*\.3gp$" [AudioKindleFire].
- `pmfv_microsoft_windowsrt_A` (8): ".*\.aac$" [AudioAAC]; ".*\.adt$" [AudioAAC]; ".*\.adts$" [AudioAAC]; ".*\.m4a$" [AudioWindowsRT]; ".*\.ac3$"; ".*\.ec3$"; ".*\.mp3$"; ".*\.wma$".
- `pmfv_unlim_P` (10): ".*\.bmp$"; ".*\.gif$"; ".*\.jpeg$"; ".*\.jpg$"; ".*\.png$"; ".*\.tif$"; ".*\.tiff$"; ".*\.webp$"; ".photolibrary"; ".*" [PhotoBooth (special)].
- `pmfv_apple_P` (9): ".*\.bmp$"; ".*\.gif$"; ".*\.jpeg$"; ".*\.jpg$"; ".*\.png$"; ".*\.tif$"; ".*\.tiff$"; ".photolibrary"; ".*" [PhotoBooth (special)].
- `pmfv_android_ics_P` (7): ".*\.bmp$"; ".*\.gif$"; ".*\.jpeg$"; ".*\.jpg$"; ".*\.png$"; ".*\.webp$"; ".photolibrary".
- `pmfv_kindle_fire_P` (7): ".*\.bmp$"; ".*\.gif$"; ".*\.jpeg$"; ".*\.jpg$"; ".*\.png$"; ".photolibrary"; ".*" [PhotoBooth (special)].
- `pmfv_microsoft_windowsrt_P` (7): ".*\.bmp$"; ".*\.gif$"; ".*\.jpeg$"; ".*\.jpg$"; ".*\.png$"; ".*\.tif$"; ".*\.tiff$".
- `pmfv_unlim_D` (18): ".*\.azw[1-9]?$"; ".*\.doc$"; ".*\.docx$"; ".*\.htm$"; ".*\.html$"; ".*\.key$"; ".*\.mobi$"; ".*\.numbers$"; ".*\.pages$"; ".*\.pdf$"; ".*\.ppt$"; ".*\.pptx$"; ".*\.prc$"; ".*\.txt$"; ".*\.rtf$"; ".*\.vcf$"; ".*\.xls$"; ".*\.xlsx$".
- `pmfv_apple_D` (15): ".*\.doc$"; ".*\.docx$"; ".*\.htm$"; ".*\.html$"; ".*\.key$"; ".*\.numbers$"; ".*\.pages$"; ".*\.pdf$"; ".*\.ppt$"; ".*\.pptx$"; ".*\.txt$"; ".*\.rtf$"; ".*\.vcf$"; ".*\.xls$"; ".*\.xlsx$".
- `pmfv_android_ics_D` (11): ".*\.doc$"; ".*\.docx$"; ".*\.htm$"; ".*\.html$"; ".*\.pdf$"; ".*\.ppt$"; ".*\.pptx$"; ".*\.txt$"; ".*\.rtf$"; ".*\.xls$"; ".*\.xlsx$".
- `pmfv_kindle_fire_D` (7): ".*\.azw[1-9]?$"; ".*\.doc$"; ".*\.docx$"; ".*\.mobi$"; ".*\.prc$"; ".*\.pdf$"; ".*\.txt$".
- `pmfv_microsoft_windowsrt_D` (11): ".*\.doc$"; ".*\.docx$"; ".*\.htm$"; ".*\.html$"; ".*\.pdf$"; ".*\.ppt$"; ".*\.pptx$"; ".*\.txt$"; ".*\.rtf$"; ".*\.xls$"; ".*\.xlsx$".
)TABLES";

struct PublishedEntry {
    QString pattern;
    QStringList rules; // full class names
};

struct PublishedList {
    QString name;
    int count = 0;
    std::vector<PublishedEntry> entries;
};

std::vector<PublishedList> parsePublished()
{
    std::vector<PublishedList> lists;
    static const QRegularExpression header(QStringLiteral(R"(^- `(\w+)` \((\d+)\): (.*)\.$)"));
    static const QRegularExpression entryForm(QStringLiteral(R"re(^"([^"]*)"(?: \[(.*)\])?$)re"));
    for (const QString &line : QString::fromUtf8(kPublishedLists).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto match = header.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        PublishedList list { match.captured(1), match.captured(2).toInt(), {} };
        for (const QString &text : match.captured(3).split(QStringLiteral("; "))) {
            const auto entry = entryForm.match(text);
            EXPECT_TRUE(entry.hasMatch()) << text.toStdString();
            PublishedEntry parsed { entry.captured(1), {} };
            if (entry.hasCaptured(2)) {
                for (const QString &rule : entry.captured(2).split(QStringLiteral(", "))) {
                    parsed.rules << (rule == QStringLiteral("PhotoBooth (special)")
                            ? QStringLiteral("PMPhotoBoothSpecialContentValidator")
                            : QStringLiteral("PM") + rule + QStringLiteral("CodecValidator"));
                }
            }
            list.entries.push_back(parsed);
        }
        lists.push_back(list);
    }
    return lists;
}

QStringList ruleNames(const PMContainerValidator &validator)
{
    QStringList names;
    for (const PMSpecialContentValidator *rule : validator.specialValidators())
        names << rule->name();
    for (const PMCodecValidator *rule : validator.codecValidators())
        names << rule->name();
    return names;
}

TEST(PMMediaLists, everyListEqualsThePublishedTableInCountOrderPatternsAndRules)
{
    const std::vector<PublishedList> published = parsePublished();
    ASSERT_EQ(published.size(), 25u);
    const PMMediaLists &tables = PMMediaLists::shared();

    QStringList publishedNames;
    for (const PublishedList &list : published)
        publishedNames << list.name;
    EXPECT_EQ(tables.listNames(), publishedNames);

    for (const PublishedList &list : published) {
        SCOPED_TRACE(list.name.toStdString());
        ASSERT_EQ(int(list.entries.size()), list.count) << "transcription miscounted";
        const PMMediaLists::List &built = tables.list(list.name);
        ASSERT_EQ(int(built.size()), list.count);
        for (std::size_t i = 0; i < built.size(); ++i) {
            SCOPED_TRACE(i);
            const PMContainerValidator &validator = *built[i];
            EXPECT_EQ(QString::fromLatin1(validator.pattern().pattern()), list.entries[i].pattern);
            EXPECT_TRUE(validator.pattern().isValid());
            EXPECT_TRUE(validator.pattern().caseInsensitive());
            EXPECT_EQ(ruleNames(validator), list.entries[i].rules);
            // A bare pattern copies on a name match; an entry with rules only through them.
            EXPECT_EQ(validator.defaultOnMatch(), list.entries[i].rules.isEmpty());
        }
    }
}

TEST(PMMediaLists, identicalEntriesAreOneSharedObjectAcrossLists)
{
    const PMMediaLists &tables = PMMediaLists::shared();
    const auto &android = tables.list(u"pmfv_android_ics_V");
    const auto &kindle = tables.list(u"pmfv_kindle_fire_V");
    const auto &kindleHD = tables.list(u"pmfv_kindle_fire_HD_V");
    ASSERT_EQ(android.size(), 5u);
    EXPECT_EQ(android[3].get(), kindle[2].get());
    EXPECT_EQ(android[3].get(), kindleHD[2].get());
    // Same pattern, other rules: separate objects.
    EXPECT_NE(kindle[1].get(), kindleHD[1].get());

    const auto &androidA = tables.list(u"pmfv_android_ics_A");
    const auto &kindleA = tables.list(u"pmfv_kindle_fire_A");
    const auto &kindleHDA = tables.list(u"pmfv_kindle_fire_HD_A");
    EXPECT_EQ(androidA[13].get(), kindleA[6].get());
    EXPECT_EQ(androidA[13].get(), kindleHDA[8].get());
}

TEST(PMMediaLists, holdsTheTwentySevenCodecRulesOnceEachAndAnswersEmptyForUnknownNames)
{
    const PMMediaLists &tables = PMMediaLists::shared();
    const auto rules = tables.codecRules();
    ASSERT_EQ(rules.size(), 27u);
    QStringList names;
    for (const PMCodecValidator *rule : rules)
        names << rule->name();
    names.removeDuplicates();
    EXPECT_EQ(names.size(), 27);
    EXPECT_EQ(tables.codecRule(u"PMH264LowCodecValidator"), rules[1]);
    EXPECT_EQ(tables.codecRule(u"PMNoSuchCodecValidator"), nullptr);
    EXPECT_EQ(tables.photoBoothRule().name(), QStringLiteral("PMPhotoBoothSpecialContentValidator"));
    EXPECT_TRUE(tables.list(u"pmfv_no_such_list").empty());
}

} // namespace
