"""What the benchmarks share: printing, running commands, a private home for the programs and a
loop-mounted ext4 drive image."""

import os
import subprocess


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
