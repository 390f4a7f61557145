// The one question the sync engine and the copy engine ask of every item: may this path be
// copied to this drive, given the media lists chosen for it?
//
//   PMFileValidator validator;
//   validator.setOwner(&controller);                       // its cancelPending() is consulted
//   validator.addContainerValidators(lists.mediaFileExtensions());
//   if (validator.shouldCopyItem(path, baseName, driveIsFAT)) ...
//
// Decision, in order: a pending cancel, the sync engine's temporary names (".d$f.", ".d$d."),
// never-synced names and paths refuse; a folder that is not a package is always entered; then
// the container validators in order, the first that copies wins; with limitTo4G a file of
// 4 GiB or more is not copied by any of them.
//
// Set up (owner, validators) on one thread before it is shared; afterwards shouldCopyItem may
// be called from any number of worker threads at once. The owner is not owned and must
// outlive the validator or be reset first.
#pragma once

#include "agent/media/PMFilterRefusal.h"
#include "agent/media/PMMediaLists.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

#include <sys/stat.h>

class PMValidatorOwner;

class PMFileValidator {
public:
    // The largest file that may go to a drive that cannot hold 4 GiB files.
    static constexpr qint64 kMaxSizeWith4GLimit = 4294967295LL;

    PMFileValidator();

    void setOwner(const PMValidatorOwner *owner) { m_owner.store(owner); }
    const PMValidatorOwner *owner() const { return m_owner.load(); }

    // Append; answer the new count.
    int addContainerValidator(std::shared_ptr<const PMContainerValidator> validator);
    int addContainerValidators(const PMMediaLists::List &validators);
    void flushValidators();
    const PMMediaLists::List &containerValidators() const { return m_validators; }

    // Uses the last component of the standardized path as the base name.
    bool shouldCopyItem(const QString &path, bool limitTo4G) const;
    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const;
    // As above, with the item's attributes read by the caller (lstat: links not followed),
    // so the item is not examined again; nullptr reads them here. When the answer is no and
    // why is given, it tells what decided: the first list entry over the 4 GiB limit, else
    // the first codec rule that refused the contents, else the first entry whose name
    // matched but whose rules did not speak, else the name.
    bool shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known,
        PMFilterRefusal *why = nullptr) const;

    // Names and paths that are never copied (paths standardized, "~" expanded).
    static const QStringList &filteredFileNames();
    static const QStringList &filteredFilePaths();
    // "~" expanded, "." and ".." and repeated or trailing separators removed.
    static QString standardizedPath(const QString &path);

private:
    // The file's size when it is over the limit.
    std::optional<qint64> sizeOverLimit(const QString &path, const struct stat *known) const;

    std::atomic<const PMValidatorOwner *> m_owner { nullptr };
    PMMediaLists::List m_validators;
};
