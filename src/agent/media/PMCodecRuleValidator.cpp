#include "agent/media/PMCodecRuleValidator.h"

#include "agent/media/PMMediaCodecCodes.h"

#include <QStringList>

#include <algorithm>

PMCodecRuleValidator::PMCodecRuleValidator(Definition definition)
    : m_definition(std::move(definition))
{
}

QString PMCodecRuleValidator::name() const
{
    return QString::fromLatin1(m_definition.name);
}

bool PMCodecRuleValidator::preconditionHolds(const MediaFileCharacterization &c) const
{
    if (!c.opened)
        return false;
    switch (m_definition.precondition) {
    case VideoPrecondition::VideoWithCodec:
        return c.hasVideo && c.videoCodec == m_definition.videoCodec;
    case VideoPrecondition::NoVideo:
        return !c.hasVideo;
    case VideoPrecondition::NoVideoOrVideoCodec:
        return !c.hasVideo || c.videoCodec == m_definition.videoCodec;
    }
    return false;
}

PMFilterRefusal::Property PMCodecRuleValidator::audioEntryFailure(const MediaFileAudioEntry &entry) const
{
    const auto &codecs = m_definition.audioCodecs;
    if (std::find(codecs.begin(), codecs.end(), entry.codec) == codecs.end())
        return PMFilterRefusal::Property::AudioCodec;
    if (m_definition.maxSampleRate && entry.sampleRate > *m_definition.maxSampleRate)
        return PMFilterRefusal::Property::SampleRate;
    if (m_definition.maxChannels && entry.channels > *m_definition.maxChannels)
        return PMFilterRefusal::Property::Channels;
    return PMFilterRefusal::Property::None;
}

namespace {

QString frameRateText(const MediaFileCharacterization &c)
{
    return QString::number(double(c.frameRate), 'g', 4);
}

QString allowedAudioCodecs(const std::vector<int> &codecs)
{
    QStringList names;
    for (const int code : codecs)
        names.append(PMMediaCodecCodes::audioCodeName(code));
    return names.join(QStringLiteral(", "));
}

} // namespace

bool PMCodecRuleValidator::decide(const MediaFileCharacterization &c, bool &shouldCopy, PMFilterRefusal *why) const
{
    if (!preconditionHolds(c))
        return false;
    shouldCopy = false;
    const auto refuse = [&](PMFilterRefusal::Property property, const QString &detail) {
        if (why)
            *why = PMFilterRefusal { PMFilterRefusal::Kind::CodecRule, property, name(), detail };
        return true;
    };
    if (const auto &limits = m_definition.limits) {
        if (c.width > limits->maxWidth || c.height > limits->maxHeight)
            return refuse(PMFilterRefusal::Property::PictureSize,
                QStringLiteral("%1 x %2 over %3 x %4")
                    .arg(c.width)
                    .arg(c.height)
                    .arg(limits->maxWidth)
                    .arg(limits->maxHeight));
        if (c.frameRateAbove(limits->maxFrameRate))
            return refuse(PMFilterRefusal::Property::FrameRate,
                QStringLiteral("%1 fps over %2 fps").arg(frameRateText(c)).arg(limits->maxFrameRate));
    }
    if (!c.hasAudio) {
        shouldCopy = true;
        return true;
    }
    const int count = std::clamp(c.audioCount, 0, MediaFileCharacterization::kMaxAudioEntries);
    for (int i = 0; i < count; ++i) {
        if (audioEntryFailure(c.audio[std::size_t(i)]) == PMFilterRefusal::Property::None) {
            shouldCopy = true;
            return true;
        }
    }
    if (count == 0)
        return refuse(PMFilterRefusal::Property::AudioCodec,
            QStringLiteral("none readable, allowed: %1").arg(allowedAudioCodecs(m_definition.audioCodecs)));
    const MediaFileAudioEntry &first = c.audio[0];
    const PMFilterRefusal::Property property = audioEntryFailure(first);
    switch (property) {
    case PMFilterRefusal::Property::SampleRate:
        return refuse(property,
            QStringLiteral("%1 Hz over %2 Hz")
                .arg(qint64(first.sampleRate))
                .arg(qint64(m_definition.maxSampleRate.value_or(0.0f))));
    case PMFilterRefusal::Property::Channels:
        return refuse(
            property, QStringLiteral("%1 over %2").arg(first.channels).arg(m_definition.maxChannels.value_or(0)));
    default:
        return refuse(PMFilterRefusal::Property::AudioCodec,
            QStringLiteral("%1, allowed: %2")
                .arg(PMMediaCodecCodes::audioCodeName(first.codec), allowedAudioCodecs(m_definition.audioCodecs)));
    }
}

bool PMCodecRuleValidator::matchCharacterization(const MediaFileCharacterization &c, bool &shouldCopy) const
{
    return decide(c, shouldCopy, nullptr);
}

bool PMCodecRuleValidator::matchCharacterization(
    const MediaFileCharacterization &c, bool &shouldCopy, PMFilterRefusal &why) const
{
    return decide(c, shouldCopy, &why);
}
