#include "agent/copy/PMDriveCapabilities.h"

#include "agent/copy/PMCopyLog.h"
#include "agent/copy/PMUniqueFd.h"

#include <QByteArray>

#include <acl/libacl.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/acl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <type_traits>

namespace {

constexpr long kFuseSuperMagic = 0x65735546;

struct AclDeleter {
    void operator()(void *acl) const { acl_free(acl); }
};
using UniqueAcl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclDeleter>;

bool modeSticks(int fd, mode_t mode)
{
    struct stat after = {};
    return ::fchmod(fd, mode) == 0 && ::fstat(fd, &after) == 0 && (after.st_mode & 07777) == mode;
}

bool ownerSticks(int fd, const struct stat &before)
{
    if (::geteuid() != 0)
        return ::fchown(fd, before.st_uid, before.st_gid) == 0;
    // Another owner and group than the ones the file got: a driver that only pretends to
    // change them reports its fixed owner afterwards.
    const uid_t uid = before.st_uid == 1 ? 2 : 1;
    const gid_t gid = before.st_gid == 1 ? 2 : 1;
    struct stat after = {};
    return ::fchown(fd, uid, gid) == 0 && ::fstat(fd, &after) == 0 && after.st_uid == uid && after.st_gid == gid;
}

bool extendedAttributeSticks(int fd)
{
    static constexpr char kName[] = "user.pellmere.probe";
    char value[2] = {};
    return ::fsetxattr(fd, kName, "1", 1, 0) == 0 && ::fgetxattr(fd, kName, value, sizeof value) == 1
        && value[0] == '1';
}

bool accessListSticks(int fd)
{
    // A named user entry: a list that only restates the permission bits is kept as those bits
    // alone, so reading it back would prove nothing.
    const UniqueAcl wanted(acl_from_text("u::rw-,u:4242:r--,g::---,m::r--,o::---"));
    if (!wanted || acl_set_fd(fd, wanted.get()) != 0)
        return false;
    const UniqueAcl read(acl_get_fd(fd));
    return read && acl_equiv_mode(read.get(), nullptr) == 1;
}

} // namespace

PMDriveCapabilities PMDriveCapabilities::probe(int folderFd)
{
    PMDriveCapabilities capabilities;
    const QByteArray name
        = ".pellmere-probe-" + QByteArray::number(::getpid()) + '-' + QByteArray::number(quintptr(&capabilities), 16);
    PMUniqueFd fd(::openat(folderFd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat before = {};
    if (!fd.isValid() || ::fstat(fd.get(), &before) != 0) {
        qCDebug(lcCopy) << "cannot probe the drive's file system:" << std::strerror(errno);
        if (fd.isValid())
            ::unlinkat(folderFd, name.constData(), 0);
        return capabilities;
    }
    capabilities.m_known = true;
    struct statfs fileSystem = {};
    capabilities.m_largeWrites
        = ::fstatfs(fd.get(), &fileSystem) == 0 && static_cast<long>(fileSystem.f_type) == kFuseSuperMagic;
    capabilities.m_owner = ownerSticks(fd.get(), before);
    // Two different modes, so that a driver reporting one fixed mode is not taken for keeping it.
    capabilities.m_mode = modeSticks(fd.get(), 0640) && modeSticks(fd.get(), 0604);
    capabilities.m_extendedAttributes = extendedAttributeSticks(fd.get());
    capabilities.m_accessLists = accessListSticks(fd.get());
    int flags = 0;
    capabilities.m_flags = ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0;
    fd.reset();
    if (::unlinkat(folderFd, name.constData(), 0) != 0)
        qCWarning(lcCopy) << "cannot remove the probe file" << name << std::strerror(errno);
    qCDebug(lcCopy) << "the drive keeps owner" << capabilities.m_owner << "mode" << capabilities.m_mode
                    << "extended attributes" << capabilities.m_extendedAttributes << "access lists"
                    << capabilities.m_accessLists << "large writes" << capabilities.m_largeWrites << "flags"
                    << capabilities.m_flags;
    return capabilities;
}
