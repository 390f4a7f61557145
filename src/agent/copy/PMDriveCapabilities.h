// What a drive's file system keeps of a file's metadata (owner, permission bits, extended
// attributes and access lists) and how its data is best written. FAT, exFAT and NTFS drives served through FUSE keep
// few of them, and every refused or ignored request still costs a round trip to the driver, so a copy learns this once
// per drive and asks the drive only for what it keeps.
//
//   const PMDriveCapabilities kept = PMDriveCapabilities::probe(folderFdOnTheDrive);
//   if (kept.keepsOwner()) fchown(...);
//
// probe() writes a small scratch file in the folder and removes it again. A value type;
// reentrant.
#pragma once

class PMDriveCapabilities {
public:
    // Everything kept: what a copy assumes when it has not learnt otherwise.
    PMDriveCapabilities() = default;

    // What the file system of the folder open at folderFd keeps, tried on a scratch file
    // made there. When no scratch file can be made, everything is assumed kept and known()
    // is false, so the caller may try again later.
    static PMDriveCapabilities probe(int folderFd);

    bool known() const { return m_known; }
    // Whether a changed owner sticks (without privilege only a change of group is possible;
    // a file system that does not refuse it is taken to keep it).
    bool keepsOwner() const { return m_owner; }
    // Whether permission bits set by chmod read back as set.
    bool keepsMode() const { return m_mode; }
    // Whether a "user." extended attribute can be written and read back.
    bool keepsExtendedAttributes() const { return m_extendedAttributes; }
    // Whether an access list beyond the permission bits can be written and read back.
    bool keepsAccessLists() const { return m_accessLists; }
    // Whether data goes faster written with plain writes of a large buffer than spliced
    // (sendfile, copy_file_range): a FUSE driver gets a spliced copy in pieces of a pipe's size,
    // each a round trip, and takes a 1 MiB write in a few large requests.
    bool prefersLargeWrites() const { return m_largeWrites; }
    // Whether the file system has inode flags (the immutable flag that locks an item): where it
    // has none, no item on it can be locked and nobody needs to open one to ask.
    bool keepsFlags() const { return m_flags; }

private:
    bool m_known = false;
    bool m_owner = true;
    bool m_mode = true;
    bool m_extendedAttributes = true;
    bool m_accessLists = true;
    bool m_largeWrites = false;
    bool m_flags = true;
};
