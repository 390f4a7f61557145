#include "agent/media/PMContainerValidator.h"

#include "agent/media/PMCodecValidator.h"
#include "agent/media/PMMediaCharacterizer.h"
#include "agent/media/PMMediaCodecCodes.h"
#include "agent/media/PMSpecialContentValidator.h"

#include <QStringList>

#include <algorithm>

PMContainerValidator::PMContainerValidator(const char *pattern, int containerType, bool caseOff, bool defaultOnMatch)
    : m_pattern(QByteArray(pattern), caseOff)
    , m_defaultOnMatch(defaultOnMatch)
    , m_containerType(containerType)
{
    m_codecValidators.reserve(kMaxCodecValidators);
}

std::shared_ptr<PMContainerValidator> PMContainerValidator::suffixMatch(
    const char *pattern, int containerType, bool defaultOnMatch)
{
    return std::make_shared<PMContainerValidator>(pattern, containerType, true, defaultOnMatch);
}

std::shared_ptr<PMContainerValidator> PMContainerValidator::suffixMatch(const char *pattern, bool defaultOnMatch)
{
    return suffixMatch(pattern, 0, defaultOnMatch);
}

int PMContainerValidator::addValidator(const PMCodecValidator *rule)
{
    if (m_codecValidators.size() >= std::size_t(kMaxCodecValidators))
        return kMaxCodecValidators;
    if (rule)
        m_codecValidators.push_back(rule);
    return int(m_codecValidators.size());
}

int PMContainerValidator::addSpecialValidator(const PMSpecialContentValidator *rule)
{
    if (m_specialValidators.size() >= std::size_t(kMaxSpecialValidators))
        return kMaxSpecialValidators;
    if (rule)
        m_specialValidators.push_back(rule);
    return int(m_specialValidators.size());
}

bool PMContainerValidator::matchItem(const QString &path, const QString &baseName, bool &shouldCopy) const
{
    return matchItem(path, baseName.toUtf8(), shouldCopy);
}

bool PMContainerValidator::matchItem(const QString &path, const QByteArray &baseNameUtf8, bool &shouldCopy) const
{
    return matchItem(path, baseNameUtf8, shouldCopy, nullptr);
}

namespace {

// What the file holds, for a line saying that no rule speaks for it.
QString contentsText(const MediaFileCharacterization &c)
{
    if (!c.opened)
        return QStringLiteral("not readable as media");
    QStringList parts;
    if (c.hasVideo)
        parts.append(QStringLiteral("video %1").arg(PMMediaCodecCodes::videoCodeName(c.videoCodec)));
    else
        parts.append(QStringLiteral("no video"));
    const int count = std::clamp(c.audioCount, 0, MediaFileCharacterization::kMaxAudioEntries);
    for (int i = 0; i < count; ++i)
        parts.append(QStringLiteral("audio %1").arg(PMMediaCodecCodes::audioCodeName(c.audio[std::size_t(i)].codec)));
    return parts.join(QStringLiteral(", "));
}

} // namespace

bool PMContainerValidator::matchItem(
    const QString &path, const QByteArray &baseNameUtf8, bool &shouldCopy, PMFilterRefusal *why) const
{
    shouldCopy = false;
    if (!m_pattern.matches(baseNameUtf8))
        return false;
    for (const PMSpecialContentValidator *rule : m_specialValidators) {
        bool copy = shouldCopy;
        const bool matched = rule->matchSpecialContent(path, copy);
        shouldCopy = copy;
        if (copy)
            return matched;
    }
    if (m_codecValidators.empty()) {
        shouldCopy = m_defaultOnMatch;
        return true;
    }
    const MediaFileCharacterization characterization
        = PMMediaCharacterizer::shared().characterize(path, m_containerType);
    for (const PMCodecValidator *rule : m_codecValidators) {
        bool copy = shouldCopy;
        PMFilterRefusal refusal;
        if (rule->matchCharacterization(characterization, copy, refusal)) {
            shouldCopy = copy;
            if (why && !copy)
                *why = refusal;
            return true;
        }
    }
    shouldCopy = m_defaultOnMatch;
    if (why)
        *why = PMFilterRefusal { PMFilterRefusal::Kind::NoRuleForContents, PMFilterRefusal::Property::None, {},
            contentsText(characterization) };
    return false;
}
