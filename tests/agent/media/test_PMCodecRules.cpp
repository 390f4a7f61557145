// The device codec rules judged on hand-filled characterizations (protected content cannot be
// made by any tool, so this is where codes 17 and 19 are tried). Every rule is checked against
// an independent transcription of the published rule table: precondition, limits and audio test.
#include "agent/media/PMCodecValidator.h"
#include "agent/media/PMMediaLists.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <optional>
#include <set>

namespace {

const char *const kPublishedRules = R"RULES(
| `PMMP4CodecValidator` | video, codec 2 | 640 × 480, 30 | codec 1, ≤48 kHz, ≤2 ch |
| `PMH264LowCodecValidator` | video, codec 1 | 640 × 480, 30 | codec 1, ≤48 kHz, ≤2 ch |
| `PMH264HighCodecValidator` | video, codec 1 | 1280 × 720, 30 | codec 1, ≤48 kHz, ≤2 ch |
| `PMDRMVLowCodecValidator` | video, codec 19 | 640 × 480, 30 | codec 1 or 17, ≤48 kHz, ≤2 ch |
| `PMDRMVHighCodecValidator` | video, codec 19 | 1280 × 720, 30 | codec 1 or 17, ≤48 kHz, ≤2 ch |
| `PMWindowsMJPEGCodecValidator` | video, codec 3 | 1280 × 720, 30 | codec 7, ≤2 ch |
| `PMMP4UnlimitedCodecValidator` | video, codec 2 | none | codec 1 |
| `PMH264UnlimitedCodecValidator` | video, codec 1 | none | codec 1 |
| `PMH263UnlimitedCodecValidator` | video, codec 16 | none | codec 1 |
| `PMDRMVUnlimitedCodecValidator` | video, codec 19 | none | codec 1 or 17 |
| `PMUnlimitedWindowsMJPEGCodecValidator` | video, codec 3 | none | codec 7, ≤2 ch |
| `PMUnlimitedPJPEGCodecValidator` | video, codec 12 | none | {1, 3, 4, 6, 7, 8, 11, 13, 15, 16} |
| `PMH264KindleFireCodecValidator` | video, codec 1 | none | {1, 15} |
| `PMH263KindleFireCodecValidator` | video, codec 16 | none | {1, 15} |
| `PMMPEG4KindleFireCodecValidator` | video, codec 2 | none | {1, 15} |
| `PMH264KindleFireHDCodecValidator` | video, codec 1 | none | {1, 14, 15} |
| `PMH263KindleFireHDCodecValidator` | video, codec 16 | none | {1, 14, 15} |
| `PMH264WindowsRTCodecValidator` | video, codec 1 | none | {1, 2, 14} |
| `PMH264WinRTCodecValidator` | video, codec 1 | none | {1, 2, 14} |
| `PMMPEG4WinRTLimitedCodecValidator` | video, codec 2 | none | {1, 2, 14} |
| `PMAudioOnlyCodecValidator` | no video | none | {1, 3, 4, 7, 9, 17} |
| `PMUnlimitedAudioOnlyCodecValidator` | no video | none | {1, 3, 4, 6, 7, 8, 11, 13, 15, 16, 17, 19} |
| `PMAudioBookCodecValidator` | no video, or video with codec 20 | none | {1, 3, 4, 7, 9, 17} |
| `PMUnlimitedAudioBookCodecValidator` | no video, or video with codec 20 | none | {1, 3, 4, 6, 7, 8, 11, 13, 15, 16, 17} |
| `PMAudioKindleFireCodecValidator` | no video | none | {1, 6, 15, 19} |
| `PMAudioWindowsRTCodecValidator` | no video | none | {1, 2, 6, 7, 14, 20} |
| `PMAudioAACCodecValidator` | no video | none | {1} |
)RULES";

struct PublishedRule {
    QString name;
    bool needsVideo = false; // "video, codec N"
    bool allowsVideo = false; // "no video, or video with codec N"
    int videoCodec = 0;
    std::optional<std::pair<int, int>> maxSize;
    std::set<int> audio;
    bool limit48k = false;
    bool limit2ch = false;
};

std::vector<PublishedRule> parseRules()
{
    std::vector<PublishedRule> rules;
    static const QRegularExpression row(QStringLiteral(R"(^\| `(\w+)` \| ([^|]+) \| ([^|]+) \| ([^|]+) \|$)"));
    static const QRegularExpression number(QStringLiteral(R"(\d+)"));
    for (const QString &line : QString::fromUtf8(kPublishedRules).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto match = row.match(line);
        EXPECT_TRUE(match.hasMatch()) << line.toStdString();
        PublishedRule rule;
        rule.name = match.captured(1);
        const QString video = match.captured(2);
        const QString limits = match.captured(3);
        const QString audio = match.captured(4);
        rule.needsVideo = video.startsWith(QStringLiteral("video"));
        rule.allowsVideo = video.contains(QStringLiteral("or video"));
        if (rule.needsVideo || rule.allowsVideo)
            rule.videoCodec = number.match(video).captured().toInt();
        if (limits != QStringLiteral("none")) {
            auto numbers = number.globalMatch(limits);
            const int width = numbers.next().captured().toInt();
            const int height = numbers.next().captured().toInt();
            EXPECT_EQ(numbers.next().captured().toInt(), 30);
            rule.maxSize = std::make_pair(width, height);
        }
        rule.limit48k = audio.contains(QStringLiteral("48 kHz"));
        rule.limit2ch = audio.contains(QStringLiteral("2 ch"));
        QString codes = audio;
        codes.remove(QStringLiteral("48 kHz")).remove(QStringLiteral("2 ch"));
        for (auto numbers = number.globalMatch(codes); numbers.hasNext();)
            rule.audio.insert(numbers.next().captured().toInt());
        rules.push_back(rule);
    }
    return rules;
}

// A file every rule of its kind accepts: the right video (or none), within the low limits,
// one audio entry of the given codec at 44.1 kHz stereo.
MediaFileCharacterization acceptable(const PublishedRule &rule, int audioCodec)
{
    MediaFileCharacterization c;
    c.opened = true;
    c.hasVideo = rule.needsVideo;
    c.videoCodec = rule.needsVideo ? rule.videoCodec : 0;
    if (rule.needsVideo) {
        c.width = 640;
        c.height = 480;
        c.frameRate = 30.0f;
        c.frameRateNumerator = 30;
        c.frameRateDenominator = 1;
    }
    c.hasAudio = true;
    c.audioCount = 1;
    c.audio[0] = { audioCodec, 44100.0f, 2 };
    return c;
}

struct Verdict {
    bool matched;
    bool copy;
};

Verdict judge(const PMCodecValidator &rule, const MediaFileCharacterization &c)
{
    bool copy = false;
    const bool matched = rule.matchCharacterization(c, copy);
    return { matched, copy };
}

class PublishedRuleTest : public ::testing::TestWithParam<PublishedRule> {
protected:
    const PMCodecValidator &rule() const
    {
        const PMCodecValidator *found = PMMediaLists::shared().codecRule(GetParam().name);
        EXPECT_NE(found, nullptr) << GetParam().name.toStdString();
        return *found;
    }
};

TEST_P(PublishedRuleTest, acceptsEveryListedAudioCodecAndRefusesEveryOther)
{
    const PublishedRule &published = GetParam();
    const PMCodecValidator &r = rule();
    for (int code = 0; code <= 22; ++code) {
        SCOPED_TRACE(code);
        const Verdict verdict = judge(r, acceptable(published, code));
        EXPECT_TRUE(verdict.matched);
        EXPECT_EQ(verdict.copy, published.audio.count(code) == 1);
    }
}

TEST_P(PublishedRuleTest, preconditionsDecideWhetherTheRuleSpeaksAtAll)
{
    const PublishedRule &published = GetParam();
    const PMCodecValidator &r = rule();
    const int audio = *published.audio.begin();

    MediaFileCharacterization closed = acceptable(published, audio);
    closed.opened = false;
    bool copy = true;
    EXPECT_FALSE(r.matchCharacterization(closed, copy));
    EXPECT_TRUE(copy) << "a rule that does not match leaves the answer untouched";

    MediaFileCharacterization otherVideo = acceptable(published, audio);
    otherVideo.hasVideo = true;
    otherVideo.videoCodec = published.videoCodec == 1 ? 2 : 1;
    EXPECT_FALSE(judge(r, otherVideo).matched);

    MediaFileCharacterization noVideo = acceptable(published, audio);
    noVideo.hasVideo = false;
    noVideo.videoCodec = 0;
    EXPECT_EQ(judge(r, noVideo).matched, !published.needsVideo);

    if (published.allowsVideo) {
        MediaFileCharacterization chapterImages = acceptable(published, audio);
        chapterImages.hasVideo = true;
        chapterImages.videoCodec = published.videoCodec;
        EXPECT_TRUE(judge(r, chapterImages).matched);
        EXPECT_TRUE(judge(r, chapterImages).copy);
    }
}

TEST_P(PublishedRuleTest, sizeAndFrameRateLimitsRefuseOnlyWhereTheyExist)
{
    const PublishedRule &published = GetParam();
    const PMCodecValidator &r = rule();
    const int audio = *published.audio.begin();
    if (!published.needsVideo) {
        // Rules for files without video have no picture limits at all.
        MediaFileCharacterization oddValues = acceptable(published, audio);
        oddValues.width = 4096;
        oddValues.height = 2160;
        oddValues.frameRate = 120.0f;
        EXPECT_TRUE(judge(r, oddValues).copy);
        return;
    }
    const int maxWidth = published.maxSize ? published.maxSize->first : 640;
    const int maxHeight = published.maxSize ? published.maxSize->second : 480;

    MediaFileCharacterization atLimit = acceptable(published, audio);
    atLimit.width = maxWidth;
    atLimit.height = maxHeight;
    EXPECT_TRUE(judge(r, atLimit).copy);

    MediaFileCharacterization wide = atLimit;
    wide.width = maxWidth + 1;
    MediaFileCharacterization tall = atLimit;
    tall.height = maxHeight + 1;
    MediaFileCharacterization fast = atLimit;
    fast.frameRateNumerator = 3001;
    fast.frameRateDenominator = 100;
    fast.frameRate = 30.01f;
    MediaFileCharacterization ntsc = atLimit;
    ntsc.frameRateNumerator = 30000;
    ntsc.frameRateDenominator = 1001;
    ntsc.frameRate = 29.97f;
    MediaFileCharacterization fastByHand = atLimit; // only the float known
    fastByHand.frameRateDenominator = 0;
    fastByHand.frameRate = 30.5f;

    for (const MediaFileCharacterization &over : { wide, tall, fast, fastByHand }) {
        const Verdict verdict = judge(r, over);
        EXPECT_TRUE(verdict.matched);
        EXPECT_EQ(verdict.copy, !published.maxSize.has_value());
    }
    EXPECT_TRUE(judge(r, ntsc).copy);

    // Over a limit the verdict is "no" even without sound.
    MediaFileCharacterization silentWide = wide;
    silentWide.hasAudio = false;
    silentWide.audioCount = 0;
    EXPECT_EQ(judge(r, silentWide).copy, !published.maxSize.has_value());
}

TEST_P(PublishedRuleTest, noSoundTrackPassesAndOnePassingEntryAmongSeveralIsEnough)
{
    const PublishedRule &published = GetParam();
    const PMCodecValidator &r = rule();
    const int good = *published.audio.begin();
    int bad = 0;
    while (published.audio.count(bad))
        ++bad;

    MediaFileCharacterization silent = acceptable(published, good);
    silent.hasAudio = false;
    silent.audioCount = 0;
    EXPECT_TRUE(judge(r, silent).copy);

    // A disabled sound track counts as sound but gives no entry: nothing can pass.
    MediaFileCharacterization disabledSound = silent;
    disabledSound.hasAudio = true;
    EXPECT_TRUE(judge(r, disabledSound).matched);
    EXPECT_FALSE(judge(r, disabledSound).copy);

    MediaFileCharacterization mixed = acceptable(published, bad);
    mixed.audioCount = 3;
    mixed.audio[1] = { bad, 22050.0f, 1 };
    mixed.audio[2] = { good, 44100.0f, 2 };
    EXPECT_TRUE(judge(r, mixed).copy);
    mixed.audioCount = 2; // the good entry is beyond the count
    EXPECT_FALSE(judge(r, mixed).copy);
}

TEST_P(PublishedRuleTest, sampleRateAndChannelLimitsApplyWhereListed)
{
    const PublishedRule &published = GetParam();
    const PMCodecValidator &r = rule();
    const int good = *published.audio.begin();

    MediaFileCharacterization at48k = acceptable(published, good);
    at48k.audio[0].sampleRate = 48000.0f;
    EXPECT_TRUE(judge(r, at48k).copy);
    MediaFileCharacterization hiRes = acceptable(published, good);
    hiRes.audio[0].sampleRate = 96000.0f;
    EXPECT_EQ(judge(r, hiRes).copy, !published.limit48k);
    MediaFileCharacterization threeChannels = acceptable(published, good);
    threeChannels.audio[0].channels = 3;
    EXPECT_EQ(judge(r, threeChannels).copy, !published.limit2ch);
    MediaFileCharacterization mono = acceptable(published, good);
    mono.audio[0].channels = 1;
    EXPECT_TRUE(judge(r, mono).copy);
}

INSTANTIATE_TEST_SUITE_P(AllRules, PublishedRuleTest, ::testing::ValuesIn(parseRules()),
    [](const ::testing::TestParamInfo<PublishedRule> &param) { return param.param.name.toStdString(); });

TEST(PublishedRules, transcriptionCoversEveryBuiltRule)
{
    const auto published = parseRules();
    ASSERT_EQ(published.size(), 27u);
    const auto built = PMMediaLists::shared().codecRules();
    ASSERT_EQ(built.size(), published.size());
    for (std::size_t i = 0; i < built.size(); ++i)
        EXPECT_EQ(built[i]->name(), published[i].name);
}

TEST(ProtectedContent, protectedVideoWithProtectedAudioPassesOnlyTheProtectedRules)
{
    MediaFileCharacterization c;
    c.opened = true;
    c.hasVideo = true;
    c.videoCodec = 19; // "drmi"
    c.width = 640;
    c.height = 480;
    c.frameRate = 24.0f;
    c.hasAudio = true;
    c.audioCount = 1;
    c.audio[0] = { 17, 44100.0f, 2 }; // "drms"
    const PMMediaLists &tables = PMMediaLists::shared();
    for (const PMCodecValidator *rule : tables.codecRules()) {
        bool copy = false;
        const bool matched = rule->matchCharacterization(c, copy);
        const bool protectedRule = rule->name().startsWith(QStringLiteral("PMDRMV"));
        EXPECT_EQ(matched && copy, protectedRule) << rule->name().toStdString();
    }
}

} // namespace
