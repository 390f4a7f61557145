// A rule that decides by where a file lives rather than what it holds (a photo library whose
// files have names no extension list knows).
//
// Answering true means the rule matched and shouldCopy holds its verdict; only a verdict of
// true ends the container's match. Implementations are immutable or internally synchronized:
// one instance is shared by every list and thread.
#pragma once

#include <QString>

class PMSpecialContentValidator {
public:
    virtual ~PMSpecialContentValidator() = default;
    virtual bool matchSpecialContent(const QString &path, bool &shouldCopy) const = 0;
    virtual QString name() const = 0;

protected:
    PMSpecialContentValidator() = default;
    PMSpecialContentValidator(const PMSpecialContentValidator &) = default;
    PMSpecialContentValidator &operator=(const PMSpecialContentValidator &) = default;
};
