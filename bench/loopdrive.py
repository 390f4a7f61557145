"""What the benchmarks share: printing, running commands and a loop-mounted ext4 drive image."""

import os
import subprocess


def log(text):
    print(text, flush=True)


def run(command, **kwargs):
    return subprocess.run(command, check=True, **kwargs)


class Drive:
    """An ext4 image loop-mounted at `mount_point`; unmounted and detached by close()."""

    def __init__(self, image, mount_point, size_bytes, inodes):
        self.image = image
        self.mount_point = mount_point
        self.device = None
        self.mounted = False
        with open(image, "wb") as out:
            out.truncate(size_bytes)
        run(["mkfs.ext4", "-q", "-F", "-N", str(inodes), "-E", "lazy_itable_init=0,lazy_journal_init=0", image])
        self.device = run(["losetup", "--find", "--show", image], capture_output=True, text=True).stdout.strip()
        os.makedirs(mount_point, exist_ok=True)
        run(["mount", "-t", "ext4", self.device, mount_point])
        self.mounted = True

    def close(self):
        if self.mounted:
            # A process still inside the drive must not leave the image attached for good.
            if subprocess.run(["umount", self.mount_point]).returncode != 0:
                subprocess.run(["umount", "-l", self.mount_point])
            self.mounted = False
        if self.device:
            subprocess.run(["losetup", "-d", self.device])
            self.device = None
