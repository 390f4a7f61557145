// A device codec rule: judges one file's characterization and may decide whether it is copied.
//
//   bool copy = false;
//   if (rule.matchCharacterization(record, copy)) return copy;   // the rule decided
//
// Answering true means the rule matched (the file is of the kind it speaks for) and copy holds
// its verdict; false leaves copy untouched and the next rule is asked. Rules hold no mutable
// state: one instance is shared by every list and thread.
#pragma once

#include "agent/media/MediaFileCharacterization.h"
#include "agent/media/PMFilterRefusal.h"

#include <QString>

class PMCodecValidator {
public:
    virtual ~PMCodecValidator() = default;
    virtual bool matchCharacterization(const MediaFileCharacterization &characterization, bool &shouldCopy) const = 0;
    // The same decision; when the rule matches and refuses, why says on what (a rule that
    // cannot tell names only itself).
    virtual bool matchCharacterization(
        const MediaFileCharacterization &characterization, bool &shouldCopy, PMFilterRefusal &why) const
    {
        const bool matched = matchCharacterization(characterization, shouldCopy);
        if (matched && !shouldCopy)
            why = PMFilterRefusal { PMFilterRefusal::Kind::CodecRule, PMFilterRefusal::Property::None, name(), {} };
        return matched;
    }
    // The rule's name as the tables spell it ("PMH264LowCodecValidator").
    virtual QString name() const = 0;

protected:
    PMCodecValidator() = default;
    PMCodecValidator(const PMCodecValidator &) = default;
    PMCodecValidator &operator=(const PMCodecValidator &) = default;
};
