// One entry of a media list: a name pattern, and optionally the codec rules and special rules
// that decide for files whose name matches.
//
//   auto mp4 = PMContainerValidator::suffixMatch(".*\\.mp4$", false);
//   mp4->addValidator(&h264Rule);
//   bool copy = false;
//   if (mp4->matchItem(path, baseName, copy) && copy) ...
//
// Built once (rules added while building), then only read: matchItem may run on several
// worker threads at once. Rules are not owned and must outlive the validator (the shared
// tables keep theirs for the whole program). Codec rules need the file's characterization,
// which comes from PMMediaCharacterizer::shared() on the calling thread.
#pragma once

#include "agent/media/PMFilterRefusal.h"
#include "agent/media/PMNamePattern.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class PMCodecValidator;
class PMSpecialContentValidator;

class PMContainerValidator {
public:
    static constexpr int kMaxCodecValidators = 16;
    static constexpr int kMaxSpecialValidators = 5;

    // caseOff: compile the pattern without regard to case (extended syntax either way).
    PMContainerValidator(const char *pattern, int containerType, bool caseOff, bool defaultOnMatch);
    PMContainerValidator(const PMContainerValidator &) = delete;
    PMContainerValidator &operator=(const PMContainerValidator &) = delete;

    // Case-insensitive makers, container code 0 unless given.
    static std::shared_ptr<PMContainerValidator> suffixMatch(
        const char *pattern, int containerType, bool defaultOnMatch);
    static std::shared_ptr<PMContainerValidator> suffixMatch(const char *pattern, bool defaultOnMatch);

    // Append a rule; answer the new count, or the limit without adding when full.
    int addValidator(const PMCodecValidator *rule);
    int addSpecialValidator(const PMSpecialContentValidator *rule);

    // Whether the base name matches and a rule (or the default) spoke; shouldCopy is the answer.
    bool matchItem(const QString &path, const QString &baseName, bool &shouldCopy) const;
    bool matchItem(const QString &path, const QByteArray &baseNameUtf8, bool &shouldCopy) const;
    // The same decision; when the name matched and the codec rules did not let the file
    // through, why says which rule refused it and on what, or that none spoke for it.
    bool matchItem(const QString &path, const QByteArray &baseNameUtf8, bool &shouldCopy, PMFilterRefusal *why) const;

    const PMNamePattern &pattern() const { return m_pattern; }
    bool defaultOnMatch() const { return m_defaultOnMatch; }
    int containerType() const { return m_containerType; }
    const std::vector<const PMCodecValidator *> &codecValidators() const { return m_codecValidators; }
    const std::vector<const PMSpecialContentValidator *> &specialValidators() const { return m_specialValidators; }

private:
    PMNamePattern m_pattern;
    bool m_defaultOnMatch;
    int m_containerType;
    std::vector<const PMCodecValidator *> m_codecValidators;
    std::vector<const PMSpecialContentValidator *> m_specialValidators;
};
