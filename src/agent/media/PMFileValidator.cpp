#include "agent/media/PMFileValidator.h"

#include "agent/log/PMAgentLog.h"
#include "agent/media/PMValidatorOwner.h"
#include "platform/FileNameCodec.h"
#include "platform/PMCorvaneUtilities.h"
#include "platform/PlatformPaths.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <sys/stat.h>

namespace {

const QLatin1String kTemporaryFilePrefix(".d$f.");
const QLatin1String kTemporaryFolderPrefix(".d$d.");

const QSet<QString> &filteredPathSet()
{
    static const QSet<QString> paths(
        PMFileValidator::filteredFilePaths().cbegin(), PMFileValidator::filteredFilePaths().cend());
    return paths;
}

const QSet<QString> &filteredNameSet()
{
    static const QSet<QString> names(
        PMFileValidator::filteredFileNames().cbegin(), PMFileValidator::filteredFileNames().cend());
    return names;
}

} // namespace

PMFileValidator::PMFileValidator()
{
    m_validators.reserve(4);
}

const QStringList &PMFileValidator::filteredFileNames()
{
    static const QStringList names = {
        QStringLiteral(".DS_Store"),
        QStringLiteral(".Spotlight-V100"),
        QStringLiteral(".hotfiles.btree"),
        QStringLiteral(".Trash"),
        QStringLiteral(".Trashes"),
        QStringLiteral(".localized"),
        QStringLiteral(".ipspot_update"),
        QStringLiteral(".Z_PM_W"),
    };
    return names;
}

const QStringList &PMFileValidator::filteredFilePaths()
{
    static const QStringList paths = [] {
        QStringList list = {
            QStringLiteral("/Applications"),
            QStringLiteral("/Library"),
            QStringLiteral("/Volume"),
            QStringLiteral("/tmp"),
            QStringLiteral("/var"),
            QStringLiteral("/usr"),
            QStringLiteral("/bin"),
            QStringLiteral("/sbin"),
            QStringLiteral("/etc"),
            QStringLiteral("/dev"),
            QStringLiteral("/System"),
            QStringLiteral("~/.Z_PM_W"),
            // System folders of this platform that hold no user data worth copying.
            QStringLiteral("/proc"),
            QStringLiteral("/sys"),
            QStringLiteral("/run"),
            QStringLiteral("/boot"),
        };
        for (QString &path : list)
            path = standardizedPath(path);
        return list;
    }();
    return paths;
}

namespace {

// Whether cleaning could change the path: a leading "~", an empty, "." or ".." component, or a
// trailing separator. Most paths a scan produces are clean, and cleaning costs an allocation.
bool needsCleaning(const QString &path)
{
    if (path.startsWith(QLatin1Char('~')))
        return true;
    const qsizetype size = path.size();
    if (size > 1 && path.endsWith(QLatin1Char('/')))
        return true;
    for (qsizetype i = 0; i < size; ++i) {
        if (path.at(i) != QLatin1Char('/'))
            continue;
        // Look at the component after this separator.
        qsizetype end = i + 1;
        while (end < size && path.at(end) != QLatin1Char('/'))
            ++end;
        const qsizetype length = end - i - 1;
        if (length == 0 && end < size)
            return true;
        if (length == 1 && path.at(i + 1) == QLatin1Char('.'))
            return true;
        if (length == 2 && path.at(i + 1) == QLatin1Char('.') && path.at(i + 2) == QLatin1Char('.'))
            return true;
    }
    return !path.startsWith(QLatin1Char('/'))
        && (path == QLatin1String(".") || path == QLatin1String("..") || path.startsWith(QLatin1String("./"))
            || path.startsWith(QLatin1String("../")));
}

} // namespace

QString PMFileValidator::standardizedPath(const QString &path)
{
    if (path.isEmpty() || !needsCleaning(path))
        return path;
    return QDir::cleanPath(platform::PlatformPaths::expandTilde(path));
}

int PMFileValidator::addContainerValidator(std::shared_ptr<const PMContainerValidator> validator)
{
    if (validator)
        m_validators.push_back(std::move(validator));
    return int(m_validators.size());
}

int PMFileValidator::addContainerValidators(const PMMediaLists::List &validators)
{
    for (const auto &validator : validators)
        if (validator)
            m_validators.push_back(validator);
    return int(m_validators.size());
}

void PMFileValidator::flushValidators()
{
    m_validators = PMMediaLists::List();
    m_validators.reserve(4);
}

bool PMFileValidator::shouldCopyItem(const QString &path, bool limitTo4G) const
{
    const QString standardized = standardizedPath(path);
    const qsizetype slash = standardized.lastIndexOf(QLatin1Char('/'));
    const QString baseName = slash >= 0 && standardized.size() > 1 ? standardized.mid(slash + 1) : standardized;
    return shouldCopyItem(path, baseName, limitTo4G);
}

std::optional<qint64> PMFileValidator::sizeOverLimit(const QString &path, const struct stat *known) const
{
    struct stat sb = {};
    if (!known) {
        if (lstat(platform::FileNameCodec::encode(path).constData(), &sb) != 0) {
            // A file that vanished is dropped by the copy itself; its size cannot exceed anything.
            PMAgentLog::debugMessage(QStringLiteral("shouldCopyItem: cannot read the size of \"%1\"").arg(path));
            return std::nullopt;
        }
        known = &sb;
    }
    if (qint64(known->st_size) <= kMaxSizeWith4GLimit)
        return std::nullopt;
    return qint64(known->st_size);
}

bool PMFileValidator::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    return shouldCopyItem(path, baseName, limitTo4G, nullptr);
}

bool PMFileValidator::shouldCopyItem(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known, PMFilterRefusal *why) const
{
    const auto refuse = [why](PMFilterRefusal::Kind kind, const QString &subject = {}, const QString &detail = {}) {
        if (why)
            *why = PMFilterRefusal { kind, PMFilterRefusal::Property::None, subject, detail };
        return false;
    };
    if (const PMValidatorOwner *owner = m_owner.load(); owner && owner->cancelPending())
        return refuse(PMFilterRefusal::Kind::None);
    if (baseName.startsWith(kTemporaryFilePrefix) || baseName.startsWith(kTemporaryFolderPrefix))
        return refuse(PMFilterRefusal::Kind::TemporaryName, baseName);
    if (filteredNameSet().contains(baseName))
        return refuse(PMFilterRefusal::Kind::NeverSyncedName, baseName);
    if (const QString standardized = standardizedPath(path); filteredPathSet().contains(standardized))
        return refuse(PMFilterRefusal::Kind::NeverSyncedPath, standardized);

    // Folders are entered following links, as the walk would see them; the caller's
    // attributes say the same for anything that is not a link.
    if (known && S_ISLNK(known->st_mode))
        known = nullptr;
    struct stat sb = {};
    const bool haveAttributes = known || stat(platform::FileNameCodec::encode(path).constData(), &sb) == 0;
    const struct stat &attributes = known ? *known : sb;
    if (haveAttributes && S_ISDIR(attributes.st_mode) && !PMCorvaneUtilities::isPackagePath(path))
        return true;

    if (m_validators.empty())
        return refuse(PMFilterRefusal::Kind::NoLists);
    const QByteArray baseNameUtf8 = platform::FileNameCodec::encode(baseName);
    // Only the most telling reason is kept: a file a list would copy but for its size, then
    // a rule's verdict on its contents, then contents no rule spoke for.
    PMFilterRefusal best;
    const auto rank = [](PMFilterRefusal::Kind kind) {
        switch (kind) {
        case PMFilterRefusal::Kind::Over4G:
            return 3;
        case PMFilterRefusal::Kind::CodecRule:
            return 2;
        case PMFilterRefusal::Kind::NoRuleForContents:
            return 1;
        default:
            return 0;
        }
    };
    for (const auto &validator : m_validators) {
        bool copy = false;
        PMFilterRefusal refusal;
        const bool matched = validator->matchItem(path, baseNameUtf8, copy, why ? &refusal : nullptr);
        if (matched && copy) {
            if (!limitTo4G)
                return true;
            const std::optional<qint64> over = sizeOverLimit(path, known);
            if (!over)
                return true;
            refusal = PMFilterRefusal { PMFilterRefusal::Kind::Over4G, PMFilterRefusal::Property::None, {},
                QStringLiteral("%1 bytes, at most %2 fit").arg(*over).arg(kMaxSizeWith4GLimit) };
        }
        if (why && rank(refusal.kind) > rank(best.kind))
            best = refusal;
    }
    if (why) {
        if (best.isSet()) {
            *why = best;
        } else {
            const qsizetype dot = baseName.lastIndexOf(QLatin1Char('.'));
            *why = PMFilterRefusal { PMFilterRefusal::Kind::NameNotListed, PMFilterRefusal::Property::None,
                dot > 0 ? baseName.mid(dot) : QStringLiteral("\"%1\"").arg(baseName), {} };
        }
    }
    return false;
}
