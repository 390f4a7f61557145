"""What the benchmarks share: printing, running commands, a private home for the programs and a
loop-mounted ext4 drive image."""

import os
import subprocess
import time


def log(text):
    print(text, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


def private_home_env(home, platform):
    """The environment for a program run in its own home: HOME and every XDG folder below it
    (made, the runtime folder private), the given Qt platform, and no session bus, display or
    Wayland socket of the caller's, so the user's own settings and agent are never touched."""
    env = dict(os.environ)
    for key, sub in (("HOME", ""), ("XDG_CONFIG_HOME", ".config"), ("XDG_STATE_HOME", ".local/state"),
                     ("XDG_DATA_HOME", ".local/share"), ("XDG_CACHE_HOME", ".cache"),
                     ("XDG_RUNTIME_DIR", "runtime")):
        path = os.path.join(home, sub) if sub else home
        os.makedirs(path, exist_ok=True)
        env[key] = path
    os.chmod(env["XDG_RUNTIME_DIR"], 0o700)
    env["QT_QPA_PLATFORM"] = platform
    for key in ("WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
        env.pop(key, None)
    if platform != "xcb":
        env.pop("DISPLAY", None)
    return env


# File systems a drive image can hold: the formatter, how the image is mounted, the reference
# rsync options (FAT-like drives keep neither owner nor mode, and keep times only to their
# precision) and the modification-time precision in seconds.
FILE_SYSTEMS = {
    "ext4": {"rsync": ["-a"], "precision": 0},
    "exfat": {"rsync": ["-rt", "--modify-window=1"], "precision": 1},
    "ntfs": {"rsync": ["-rt", "--modify-window=1"], "precision": 1},
    "fat32": {"rsync": ["-rt", "--modify-window=2"], "precision": 2},
}


class Drive:
    """A drive image mounted at `mount_point`; unmounted and detached by close().

    ext4 is loop-mounted by the kernel; exFAT (exfat-fuse) and NTFS (ntfs-3g) are served by
    their FUSE drivers from a loop device, as desktops mount such drives here; FAT32 goes
    through guestmount (FUSE in front of the vfat driver of a libguestfs appliance), as the
    kernel of this machine has no vfat module."""

    def __init__(self, image, mount_point, size_bytes, inodes, fs="ext4"):
        self.image = image
        self.mount_point = mount_point
        self.fs = fs
        self.device = None
        self.mounted = False
        with open(image, "wb") as out:
            out.truncate(size_bytes)
        if fs == "ext4":
            run(["mkfs.ext4", "-q", "-F", "-N", str(inodes), "-E", "lazy_itable_init=0,lazy_journal_init=0",
                 image])
        elif fs == "exfat":
            run(["mkfs.exfat", image], stdout=subprocess.DEVNULL)
        elif fs == "ntfs":
            run(["mkntfs", "-F", "-Q", "-q", image], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        elif fs == "fat32":
            run(["mkfs.vfat", "-F", "32", image], stdout=subprocess.DEVNULL)
        else:
            raise ValueError("unknown file system %s" % fs)
        os.makedirs(mount_point, exist_ok=True)
        if fs == "fat32":
            run(["guestmount", "--format=raw", "-a", image, "-m", "/dev/sda", "--rw", "-o",
                 "fsname=" + image, "-o", "subtype=vfat", mount_point])
            self.mounted = True
            return
        self.device = run(["losetup", "--find", "--show", image], capture_output=True, text=True).stdout.strip()
        if fs == "ext4":
            run(["mount", "-t", "ext4", self.device, mount_point])
        elif fs == "exfat":
            run(["mount.exfat-fuse", self.device, mount_point], stdout=subprocess.DEVNULL)
        else:
            run(["ntfs-3g", self.device, mount_point])
        self.mounted = True

    def close(self):
        if self.mounted:
            if self.fs == "fat32":
                # Waits for the appliance to write the image back and stop.
                subprocess.run(["guestunmount", self.mount_point])
            # A process still inside the drive must not leave the image attached for good.
            elif subprocess.run(["umount", self.mount_point]).returncode != 0:
                subprocess.run(["umount", "-l", self.mount_point])
            self.mounted = False
        if self.device:
            # A FUSE driver may still hold the device a moment after the unmount.
            for _ in range(50):
                if subprocess.run(["losetup", "-d", self.device], stderr=subprocess.DEVNULL).returncode == 0:
                    break
                time.sleep(0.1)
            self.device = None
