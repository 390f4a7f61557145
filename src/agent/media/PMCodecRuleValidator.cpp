#include "agent/media/PMCodecRuleValidator.h"

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

bool PMCodecRuleValidator::audioEntryPasses(const MediaFileAudioEntry &entry) const
{
    const auto &codecs = m_definition.audioCodecs;
    if (std::find(codecs.begin(), codecs.end(), entry.codec) == codecs.end())
        return false;
    if (m_definition.maxSampleRate && entry.sampleRate > *m_definition.maxSampleRate)
        return false;
    if (m_definition.maxChannels && entry.channels > *m_definition.maxChannels)
        return false;
    return true;
}

bool PMCodecRuleValidator::matchCharacterization(const MediaFileCharacterization &c, bool &shouldCopy) const
{
    if (!preconditionHolds(c))
        return false;
    shouldCopy = false;
    if (const auto &limits = m_definition.limits) {
        if (c.width > limits->maxWidth || c.height > limits->maxHeight)
            return true;
        if (c.frameRateAbove(limits->maxFrameRate))
            return true;
    }
    if (!c.hasAudio) {
        shouldCopy = true;
        return true;
    }
    const int count = std::clamp(c.audioCount, 0, MediaFileCharacterization::kMaxAudioEntries);
    for (int i = 0; i < count; ++i) {
        if (audioEntryPasses(c.audio[std::size_t(i)])) {
            shouldCopy = true;
            break;
        }
    }
    return true;
}
