// Folders and items below a trusted root (a drive's mount point, the home folder) reached one
// component at a time, each opened relative to the folder before it with O_NOFOLLOW, so no
// link anywhere on the way (planted by a drive, or swapped in meanwhile) can lead out of the
// root. A link where a folder is needed stops the walk and is named in the result.
//
//   const ConfinedPath temp(mountPoint, QStringLiteral("alice_Studio/.Z_PM_W/ID"));
//   ConfinedPath::Result result;
//   UniqueFd folder = temp.makeFolders(0777, &result);
//   if (result.status == ConfinedPath::Status::Link) ... result.where names the link
//
// The relative path must consist of plain names: "", "." and ".." components make every
// operation fail. Given the device the root must lie on, every operation fails with ENODEV
// once the root is another file system: a drive that went away leaves its bare mount point
// folder behind, and nothing may be created there. Immutable; any thread.
#pragma once

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace platform {

class ConfinedPath {
public:
    enum class Status {
        Ok,
        Missing, // a component does not exist
        Link, // a component is a symbolic link
        NotAFolder, // a component that must be a folder is something else
        Failed, // any other error (see error), or an invalid relative path
    };
    struct Result {
        Status status = Status::Ok;
        QString where; // the whole path of the component that stopped the walk
        int error = 0;
        bool ok() const { return status == Status::Ok; }
    };

    ConfinedPath(QString root, const QString &relative, std::optional<dev_t> rootDevice = std::nullopt);

    QString root() const { return m_root; }
    // root joined with the relative path.
    QString path() const;
    // Whether the relative path is made of plain names only.
    bool isValid() const { return m_valid; }

    // The first existing component that is a link or not a folder; Ok when every existing
    // component is a real folder (missing ones are fine: they would be created as folders).
    Result check() const;
    // Opens the folder; an invalid fd with the reason otherwise.
    UniqueFd openFolder(Result *result) const;
    // Opens the folder the last component lives in (the root for a single component).
    UniqueFd openParent(Result *result) const;
    QByteArray lastName() const;
    // Creates the missing folders (with the umask's permissions); the last one, when created
    // here, gets mode if given. Opens the last.
    UniqueFd makeFolders(std::optional<mode_t> mode, Result *result) const;
    // Removes the item (a whole folder tree) without following any link; a missing item is
    // success. A link on the way to it removes nothing.
    Result remove() const;

    // Removes name in the folder open at parentFd: a file or link, or a folder with its whole
    // tree, never following a link. 0, or the first errno met (the walk goes on past it).
    static int removeTreeAt(int parentFd, const QByteArray &name);

private:
    // Walks the first count components; creating missing ones when create.
    UniqueFd walk(qsizetype count, bool create, std::optional<mode_t> mode, Result *result) const;
    QString pathOf(qsizetype count) const;
    bool isOnRootDevice(int rootFd) const;

    QString m_root;
    QList<QByteArray> m_parts;
    std::optional<dev_t> m_rootDevice;
    bool m_valid = true;
};

} // namespace platform
