#include "agent/media/PMMediaLists.h"

#include "agent/media/PMCodecRuleValidator.h"
#include "agent/media/PMMediaCodecCodes.h"
#include "agent/media/PMMediaLog.h"
#include "agent/media/PMPhotoBoothSpecialContentValidator.h"

#include <QHash>

namespace {

using Rule = PMCodecRuleValidator;
using Pre = PMCodecRuleValidator::VideoPrecondition;
using namespace PMMediaCodecCodes;

constexpr Rule::Limits kLow { 640, 480, 30 };
constexpr Rule::Limits kHigh { 1280, 720, 30 };
constexpr float k48kHz = 48000.0f;
constexpr int kTwoChannels = 2;

const std::vector<int> kAAC { kAudioAAC };
const std::vector<int> kAACOrProtected { kAudioAAC, kAudioProtectedAAC };
const std::vector<int> kULaw { kAudioULaw };
// Codes 4 and 5 are never assigned by the code tables; they stay in these sets as they always
// were and simply never match.
const std::vector<int> kPhotoJPEGAudio { 1, 3, 4, 6, 7, 8, 11, 13, 15, 16 };
const std::vector<int> kKindleFireAudio { kAudioAAC, kAudioAMR };
const std::vector<int> kKindleFireHDAudio { kAudioAAC, kAudioAC3, kAudioAMR };
const std::vector<int> kWindowsRTVideoAudio { kAudioAAC, kAudioMP3, kAudioAC3 };
const std::vector<int> kAppleAudio { 1, 3, 4, 7, 9, 17 };
const std::vector<int> kUnlimitedAudioOnly { 1, 3, 4, 6, 7, 8, 11, 13, 15, 16, 17, 19 };
const std::vector<int> kUnlimitedAudioBook { 1, 3, 4, 6, 7, 8, 11, 13, 15, 16, 17 };
const std::vector<int> kKindleFireAudioOnly { kAudioAAC, kAudioPCM, kAudioAMR, kAudioMIDI };
const std::vector<int> kWindowsRTAudioOnly { kAudioAAC, kAudioMP3, kAudioPCM, kAudioULaw, kAudioAC3, kAudioDVIADPCM };

std::vector<Rule::Definition> codecRuleDefinitions()
{
    return {
        { "PMMP4CodecValidator", Pre::VideoWithCodec, kVideoMPEG4, kLow, kAAC, k48kHz, kTwoChannels },
        { "PMH264LowCodecValidator", Pre::VideoWithCodec, kVideoH264, kLow, kAAC, k48kHz, kTwoChannels },
        { "PMH264HighCodecValidator", Pre::VideoWithCodec, kVideoH264, kHigh, kAAC, k48kHz, kTwoChannels },
        { "PMDRMVLowCodecValidator", Pre::VideoWithCodec, kVideoProtected, kLow, kAACOrProtected, k48kHz,
            kTwoChannels },
        { "PMDRMVHighCodecValidator", Pre::VideoWithCodec, kVideoProtected, kHigh, kAACOrProtected, k48kHz,
            kTwoChannels },
        { "PMWindowsMJPEGCodecValidator", Pre::VideoWithCodec, kVideoWindowsMJPEG, kHigh, kULaw, std::nullopt,
            kTwoChannels },
        { "PMMP4UnlimitedCodecValidator", Pre::VideoWithCodec, kVideoMPEG4, std::nullopt, kAAC, std::nullopt,
            std::nullopt },
        { "PMH264UnlimitedCodecValidator", Pre::VideoWithCodec, kVideoH264, std::nullopt, kAAC, std::nullopt,
            std::nullopt },
        { "PMH263UnlimitedCodecValidator", Pre::VideoWithCodec, kVideoH263, std::nullopt, kAAC, std::nullopt,
            std::nullopt },
        { "PMDRMVUnlimitedCodecValidator", Pre::VideoWithCodec, kVideoProtected, std::nullopt, kAACOrProtected,
            std::nullopt, std::nullopt },
        { "PMUnlimitedWindowsMJPEGCodecValidator", Pre::VideoWithCodec, kVideoWindowsMJPEG, std::nullopt, kULaw,
            std::nullopt, kTwoChannels },
        { "PMUnlimitedPJPEGCodecValidator", Pre::VideoWithCodec, kVideoPhotoJPEG, std::nullopt, kPhotoJPEGAudio,
            std::nullopt, std::nullopt },
        { "PMH264KindleFireCodecValidator", Pre::VideoWithCodec, kVideoH264, std::nullopt, kKindleFireAudio,
            std::nullopt, std::nullopt },
        { "PMH263KindleFireCodecValidator", Pre::VideoWithCodec, kVideoH263, std::nullopt, kKindleFireAudio,
            std::nullopt, std::nullopt },
        { "PMMPEG4KindleFireCodecValidator", Pre::VideoWithCodec, kVideoMPEG4, std::nullopt, kKindleFireAudio,
            std::nullopt, std::nullopt },
        { "PMH264KindleFireHDCodecValidator", Pre::VideoWithCodec, kVideoH264, std::nullopt, kKindleFireHDAudio,
            std::nullopt, std::nullopt },
        { "PMH263KindleFireHDCodecValidator", Pre::VideoWithCodec, kVideoH263, std::nullopt, kKindleFireHDAudio,
            std::nullopt, std::nullopt },
        { "PMH264WindowsRTCodecValidator", Pre::VideoWithCodec, kVideoH264, std::nullopt, kWindowsRTVideoAudio,
            std::nullopt, std::nullopt },
        { "PMH264WinRTCodecValidator", Pre::VideoWithCodec, kVideoH264, std::nullopt, kWindowsRTVideoAudio,
            std::nullopt, std::nullopt },
        { "PMMPEG4WinRTLimitedCodecValidator", Pre::VideoWithCodec, kVideoMPEG4, std::nullopt, kWindowsRTVideoAudio,
            std::nullopt, std::nullopt },
        { "PMAudioOnlyCodecValidator", Pre::NoVideo, 0, std::nullopt, kAppleAudio, std::nullopt, std::nullopt },
        { "PMUnlimitedAudioOnlyCodecValidator", Pre::NoVideo, 0, std::nullopt, kUnlimitedAudioOnly, std::nullopt,
            std::nullopt },
        { "PMAudioBookCodecValidator", Pre::NoVideoOrVideoCodec, kVideoPNG, std::nullopt, kAppleAudio, std::nullopt,
            std::nullopt },
        { "PMUnlimitedAudioBookCodecValidator", Pre::NoVideoOrVideoCodec, kVideoPNG, std::nullopt, kUnlimitedAudioBook,
            std::nullopt, std::nullopt },
        { "PMAudioKindleFireCodecValidator", Pre::NoVideo, 0, std::nullopt, kKindleFireAudioOnly, std::nullopt,
            std::nullopt },
        { "PMAudioWindowsRTCodecValidator", Pre::NoVideo, 0, std::nullopt, kWindowsRTAudioOnly, std::nullopt,
            std::nullopt },
        { "PMAudioAACCodecValidator", Pre::NoVideo, 0, std::nullopt, kAAC, std::nullopt, std::nullopt },
    };
}

// One entry of a list as written in the tables: a pattern and the rules in brackets, named
// without the "PM" prefix and "CodecValidator" suffix ("H264Low"); "PhotoBooth" is the special
// rule. An entry without rules copies on a name match.
struct EntrySpec {
    const char *pattern;
    std::vector<const char *> rules;
};

struct ListSpec {
    const char *name;
    std::vector<EntrySpec> entries;
};

// clang-format off
std::vector<ListSpec> listSpecs()
{
    return {
    // movies
    {"pmfv_unlim_V", {{R"(.*\.3gp$)", {}}, {R"(.*\.3g2$)", {}}, {R"(.*\.3gp2$)", {}}, {R"(.*\.3gpp$)", {}},
        {R"(.*\.asf$)", {}}, {R"(.*\.avi$)", {}}, {R"(.*\.dat$)", {}}, {R"(.*\.divx$)", {}}, {R"(.*\.flv$)", {}},
        {R"(.*\.ifo$)", {}}, {R"(.*\.iso$)", {}}, {R"(.*\.m2ts$)", {}}, {R"(.*\.mkv$)", {}}, {R"(.*\.mp4$)", {}},
        {R"(.*\.m4v$)", {}}, {R"(.*\.mp4v$)", {}}, {R"(.*\.mpeg$)", {}}, {R"(.*\.mpg$)", {}}, {R"(.*\.mts$)", {}},
        {R"(.*\.rm$)", {}}, {R"(.*\.rmvb$)", {}}, {R"(.*\.sami$)", {}}, {R"(.*\.smi$)", {}}, {R"(.*\.srt$)", {}},
        {R"(.*\.sub$)", {}}, {R"(.*\.tp$)", {}}, {R"(.*\.trp$)", {}}, {R"(.*\.ts$)", {}}, {R"(.*\.vob$)", {}},
        {R"(.*\.webm$)", {}}, {R"(.*\.wm$)", {}}, {R"(.*\.wmv$)", {}}, {R"(.*\.xvid$)", {}}, {R"(.*\.mov$)", {}}}},
    {"pmfv_apple_low_V", {{R"(.*\.mp4$)", {"MP4", "H264Low", "DRMVLow"}},
        {R"(.*\.m4v$)", {"MP4", "H264Low", "DRMVLow"}}, {R"(.*\.mov$)", {"MP4", "H264Low", "DRMVLow"}}}},
    {"pmfv_apple_high_V", {{R"(.*\.mp4$)", {"MP4", "H264High", "DRMVHigh"}},
        {R"(.*\.m4v$)", {"MP4", "H264High", "DRMVHigh"}}, {R"(.*\.mov$)", {"MP4", "H264High", "DRMVHigh"}},
        {R"(.*\.avi$)", {"WindowsMJPEG"}}}},
    {"pmfv_apple_unlim_V", {
        {R"(.*\.mp4$)", {"MP4Unlimited", "H264Unlimited", "DRMVUnlimited", "UnlimitedPJPEG"}},
        {R"(.*\.m4v$)", {"MP4Unlimited", "H264Unlimited", "DRMVUnlimited", "UnlimitedPJPEG"}},
        {R"(.*\.mov$)", {"MP4Unlimited", "H264Unlimited", "DRMVUnlimited", "UnlimitedPJPEG"}},
        {R"(.*\.avi$)", {"UnlimitedWindowsMJPEG"}}}},
    {"pmfv_android_ics_V", {{R"(.*\.mkv$)", {}}, {R"(.*\.webm$)", {}}, {R"(.*\.ts$)", {}},
        {R"(.*\.3gp$)", {"MPEG4KindleFire", "H263KindleFire", "H264KindleFire"}},
        {R"(.*\.mp4$)", {"H264KindleFire", "H263KindleFire"}}}},
    {"pmfv_kindle_fire_V", {{R"(.*\.webm$)", {}}, {R"(.*\.mp4$)", {"H264KindleFire", "H263KindleFire"}},
        {R"(.*\.3gp$)", {"MPEG4KindleFire", "H263KindleFire", "H264KindleFire"}}}},
    {"pmfv_kindle_fire_HD_V", {{R"(.*\.webm$)", {}}, {R"(.*\.mp4$)", {"H264KindleFireHD", "H263KindleFireHD"}},
        {R"(.*\.3gp$)", {"MPEG4KindleFire", "H263KindleFire", "H264KindleFire"}}}},
    {"pmfv_microsoft_windowsrt_V", {
        {R"(.*\.3gp$)", {"H263Unlimited", "H264Unlimited", "MP4Unlimited"}},
        {R"(.*\.3g2)", {"H263Unlimited", "H264Unlimited", "MP4Unlimited"}},
        {R"(.*\.3gp2$)", {"H263Unlimited", "H264Unlimited", "MP4Unlimited"}},
        {R"(.*\.3gpp$)", {"H263Unlimited", "H264Unlimited", "MP4Unlimited"}},
        {R"(.*\.m4v$)", {"H264WinRT", "H264WindowsRT", "MPEG4WinRTLimited"}},
        {R"(.*\.mp4v$)", {"H264WinRT", "H264WindowsRT", "MPEG4WinRTLimited"}},
        {R"(.*\.mp4$)", {"H264WinRT", "H264WindowsRT", "MPEG4WinRTLimited"}},
        {R"(.*\.mov$)", {"H264WinRT", "H264WindowsRT", "MPEG4WinRTLimited"}},
        {R"(.*\.asf$)", {}}, {R"(.*\.wm$)", {}}, {R"(.*\.wmv$)", {}}, {R"(.*\.avi$)", {}}}},
    // music
    {"pmfv_unlim_A", {{R"(.*\.aac$)", {}}, {R"(.*\.ac3$)", {}}, {R"(.*\.ec3$)", {}}, {R"(.*\.adt$)", {}},
        {R"(.*\.adts$)", {}}, {R"(.*\.asf$)", {}}, {R"(.*\.flac$)", {}}, {R"(.*\.imy$)", {}}, {R"(.*\.m4a$)", {}},
        {R"(.*\.m4b$)", {}}, {R"(.*\.mid$)", {}}, {R"(.*\.midi$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.mp4$)", {}},
        {R"(.*\.mxmf$)", {}}, {R"(.*\.ogg$)", {}}, {R"(.*\.ota$)", {}}, {R"(.*\.ra$)", {}}, {R"(.*\.rm$)", {}},
        {R"(.*\.rmvb$)", {}}, {R"(.*\.rtttl$)", {}}, {R"(.*\.rtx$)", {}}, {R"(.*\.wav$)", {}}, {R"(.*\.wma$)", {}},
        {R"(.*\.m3u$)", {}}, {R"(.*\.pls$)", {}}, {R"(.*\.mov$)", {}}, {R"(.*\.xmf$)", {}},
        {R"(.*\.3gp$)", {"AudioKindleFire"}}}},
    {"pmfv_apple_A", {{R"(.*\.aac$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.wav$)", {}}, {R"(.*\.aiff$)", {}},
        {R"(.*\.m4a$)", {"AudioOnly"}}, {R"(.*\.m4b$)", {"AudioBook"}}, {R"(.*\.mp4$)", {"AudioOnly"}},
        {R"(.*\.mov$)", {"AudioOnly"}}}},
    {"pmfv_apple_unlim_A", {{R"(.*\.aac$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.wav$)", {}}, {R"(.*\.aiff$)", {}},
        {R"(.*\.m4a$)", {"UnlimitedAudioOnly"}}, {R"(.*\.m4b$)", {"UnlimitedAudioBook"}},
        {R"(.*\.mp4$)", {"UnlimitedAudioOnly"}}, {R"(.*\.mov$)", {"UnlimitedAudioOnly"}}}},
    {"pmfv_android_ics_A", {{R"(.*\.aac$)", {}}, {R"(.*\.flac$)", {}}, {R"(.*\.imy$)", {}}, {R"(.*\.mid$)", {}},
        {R"(.*\.midi$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.mxmf$)", {}}, {R"(.*\.ogg$)", {}}, {R"(.*\.ota$)", {}},
        {R"(.*\.rtttl$)", {}}, {R"(.*\.rtx$)", {}}, {R"(.*\.wav$)", {}}, {R"(.*\.xmf$)", {}},
        {R"(.*\.m4a$)", {"AudioKindleFire"}}, {R"(.*\.3gp$)", {"AudioKindleFire"}}}},
    {"pmfv_kindle_fire_A", {{R"(.*\.aac$)", {}}, {R"(.*\.mid$)", {}}, {R"(.*\.midi$)", {}}, {R"(.*\.mp3$)", {}},
        {R"(.*\.ogg$)", {}}, {R"(.*\.wav$)", {}}, {R"(.*\.m4a$)", {"AudioKindleFire"}},
        {R"(.*\.3gp$)", {"AudioKindleFire"}}}},
    {"pmfv_kindle_fire_HD_A", {{R"(.*\.aac$)", {}}, {R"(.*\.ac3$)", {}}, {R"(.*\.ec3$)", {}}, {R"(.*\.mid$)", {}},
        {R"(.*\.midi$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.ogg$)", {}}, {R"(.*\.wav$)", {}},
        {R"(.*\.m4a$)", {"AudioKindleFire"}}, {R"(.*\.3gp$)", {"AudioKindleFire"}}}},
    {"pmfv_microsoft_windowsrt_A", {{R"(.*\.aac$)", {"AudioAAC"}}, {R"(.*\.adt$)", {"AudioAAC"}},
        {R"(.*\.adts$)", {"AudioAAC"}}, {R"(.*\.m4a$)", {"AudioWindowsRT"}}, {R"(.*\.ac3$)", {}},
        {R"(.*\.ec3$)", {}}, {R"(.*\.mp3$)", {}}, {R"(.*\.wma$)", {}}}},
    // pictures
    {"pmfv_unlim_P", {{R"(.*\.bmp$)", {}}, {R"(.*\.gif$)", {}}, {R"(.*\.jpeg$)", {}}, {R"(.*\.jpg$)", {}},
        {R"(.*\.png$)", {}}, {R"(.*\.tif$)", {}}, {R"(.*\.tiff$)", {}}, {R"(.*\.webp$)", {}},
        {R"(.photolibrary)", {}}, {R"(.*)", {"PhotoBooth"}}}},
    {"pmfv_apple_P", {{R"(.*\.bmp$)", {}}, {R"(.*\.gif$)", {}}, {R"(.*\.jpeg$)", {}}, {R"(.*\.jpg$)", {}},
        {R"(.*\.png$)", {}}, {R"(.*\.tif$)", {}}, {R"(.*\.tiff$)", {}}, {R"(.photolibrary)", {}},
        {R"(.*)", {"PhotoBooth"}}}},
    {"pmfv_android_ics_P", {{R"(.*\.bmp$)", {}}, {R"(.*\.gif$)", {}}, {R"(.*\.jpeg$)", {}}, {R"(.*\.jpg$)", {}},
        {R"(.*\.png$)", {}}, {R"(.*\.webp$)", {}}, {R"(.photolibrary)", {}}}},
    {"pmfv_kindle_fire_P", {{R"(.*\.bmp$)", {}}, {R"(.*\.gif$)", {}}, {R"(.*\.jpeg$)", {}}, {R"(.*\.jpg$)", {}},
        {R"(.*\.png$)", {}}, {R"(.photolibrary)", {}}, {R"(.*)", {"PhotoBooth"}}}},
    {"pmfv_microsoft_windowsrt_P", {{R"(.*\.bmp$)", {}}, {R"(.*\.gif$)", {}}, {R"(.*\.jpeg$)", {}},
        {R"(.*\.jpg$)", {}}, {R"(.*\.png$)", {}}, {R"(.*\.tif$)", {}}, {R"(.*\.tiff$)", {}}}},
    // documents
    {"pmfv_unlim_D", {{R"(.*\.azw[1-9]?$)", {}}, {R"(.*\.doc$)", {}}, {R"(.*\.docx$)", {}}, {R"(.*\.htm$)", {}},
        {R"(.*\.html$)", {}}, {R"(.*\.key$)", {}}, {R"(.*\.mobi$)", {}}, {R"(.*\.numbers$)", {}},
        {R"(.*\.pages$)", {}}, {R"(.*\.pdf$)", {}}, {R"(.*\.ppt$)", {}}, {R"(.*\.pptx$)", {}}, {R"(.*\.prc$)", {}},
        {R"(.*\.txt$)", {}}, {R"(.*\.rtf$)", {}}, {R"(.*\.vcf$)", {}}, {R"(.*\.xls$)", {}}, {R"(.*\.xlsx$)", {}}}},
    {"pmfv_apple_D", {{R"(.*\.doc$)", {}}, {R"(.*\.docx$)", {}}, {R"(.*\.htm$)", {}}, {R"(.*\.html$)", {}},
        {R"(.*\.key$)", {}}, {R"(.*\.numbers$)", {}}, {R"(.*\.pages$)", {}}, {R"(.*\.pdf$)", {}},
        {R"(.*\.ppt$)", {}}, {R"(.*\.pptx$)", {}}, {R"(.*\.txt$)", {}}, {R"(.*\.rtf$)", {}}, {R"(.*\.vcf$)", {}},
        {R"(.*\.xls$)", {}}, {R"(.*\.xlsx$)", {}}}},
    {"pmfv_android_ics_D", {{R"(.*\.doc$)", {}}, {R"(.*\.docx$)", {}}, {R"(.*\.htm$)", {}}, {R"(.*\.html$)", {}},
        {R"(.*\.pdf$)", {}}, {R"(.*\.ppt$)", {}}, {R"(.*\.pptx$)", {}}, {R"(.*\.txt$)", {}}, {R"(.*\.rtf$)", {}},
        {R"(.*\.xls$)", {}}, {R"(.*\.xlsx$)", {}}}},
    {"pmfv_kindle_fire_D", {{R"(.*\.azw[1-9]?$)", {}}, {R"(.*\.doc$)", {}}, {R"(.*\.docx$)", {}},
        {R"(.*\.mobi$)", {}}, {R"(.*\.prc$)", {}}, {R"(.*\.pdf$)", {}}, {R"(.*\.txt$)", {}}}},
    {"pmfv_microsoft_windowsrt_D", {{R"(.*\.doc$)", {}}, {R"(.*\.docx$)", {}}, {R"(.*\.htm$)", {}},
        {R"(.*\.html$)", {}}, {R"(.*\.pdf$)", {}}, {R"(.*\.ppt$)", {}}, {R"(.*\.pptx$)", {}}, {R"(.*\.txt$)", {}},
        {R"(.*\.rtf$)", {}}, {R"(.*\.xls$)", {}}, {R"(.*\.xlsx$)", {}}}},
    };
}
// clang-format on

} // namespace

const PMMediaLists &PMMediaLists::shared()
{
    static const PMMediaLists *const instance = new PMMediaLists(); // lives until the program ends
    return *instance;
}

PMMediaLists::PMMediaLists()
{
    buildCodecRules();
    buildLists();
}

void PMMediaLists::buildCodecRules()
{
    for (Rule::Definition &definition : codecRuleDefinitions())
        m_codecRules.push_back(std::make_unique<Rule>(std::move(definition)));
    m_photoBooth = std::make_unique<PMPhotoBoothSpecialContentValidator>(
        PMPhotoBoothSpecialContentValidator::preferenceSource());
}

void PMMediaLists::buildLists()
{
    // The same pattern with the same rules is one object in every list that names it.
    QHash<QString, std::shared_ptr<const PMContainerValidator>> built;
    for (const ListSpec &listSpec : listSpecs()) {
        NamedList named { QString::fromLatin1(listSpec.name), {} };
        for (const EntrySpec &entry : listSpec.entries) {
            QString key = QString::fromLatin1(entry.pattern);
            for (const char *rule : entry.rules)
                key += QLatin1Char('\n') + QLatin1String(rule);
            auto found = built.constFind(key);
            if (found == built.cend()) {
                // An entry with rules copies only through them: its default never copies.
                auto validator = PMContainerValidator::suffixMatch(entry.pattern, entry.rules.empty());
                for (const char *rule : entry.rules) {
                    const QString shortName = QLatin1String(rule);
                    if (shortName == QLatin1String("PhotoBooth")) {
                        validator->addSpecialValidator(m_photoBooth.get());
                        continue;
                    }
                    const QString fullName = QStringLiteral("PM") + shortName + QStringLiteral("CodecValidator");
                    const PMCodecValidator *codecValidator = codecRule(fullName);
                    if (!codecValidator)
                        qCCritical(lcMedia) << "media table names an unknown rule" << shortName;
                    validator->addValidator(codecValidator);
                }
                found = built.insert(key, validator);
            }
            named.validators.push_back(*found);
        }
        m_lists.push_back(std::move(named));
    }
}

const PMMediaLists::List &PMMediaLists::list(QStringView name) const
{
    static const List kEmpty;
    for (const NamedList &named : m_lists)
        if (named.name == name)
            return named.validators;
    return kEmpty;
}

QStringList PMMediaLists::listNames() const
{
    QStringList names;
    for (const NamedList &named : m_lists)
        names << named.name;
    return names;
}

std::vector<const PMCodecValidator *> PMMediaLists::codecRules() const
{
    std::vector<const PMCodecValidator *> rules;
    for (const auto &rule : m_codecRules)
        rules.push_back(rule.get());
    return rules;
}

const PMCodecValidator *PMMediaLists::codecRule(QStringView name) const
{
    for (const auto &rule : m_codecRules)
        if (rule->name() == name)
            return rule.get();
    return nullptr;
}
