#!/usr/bin/env python3
"""Randomized scenario checker for `pellmere sync`.

From a seed it builds a small home tree (unicode, long and case-colliding names, empty folders,
empty, sparse and larger files, links, unreadable entries), syncs it onto a real drive image,
changes the tree between syncs and injects faults (SIGKILL at a random point or while copies
are moved into place, a full drive, a drive unmounted mid-sync, a second concurrent sync).
After every run it checks what a sync promises:

  * a sync that reports success leaves every eligible file of the computer on the drive with
    equal content and modification date (at the drive's precision);
  * files that exist only on the drive are left untouched;
  * nothing on the computer changes;
  * nothing on the drive outside the user's folder and the configuration file is written, and
    nothing lands in the mount point's folder while the drive is away;
  * after any fault, the next sync completes and makes the first point true again;
  * no symbolic link and no never-synced name reaches the drive; the program never crashes.

One drive image is mounted per run of this program (ext4, exFAT, NTFS or FAT32) and many
scenarios run on it, each from its own seed. A failing scenario prints its seed; replay it with
PELLMERE_CHECKER_SEED=<seed> (or --seed). Needs root (loop devices, mount); exits 77 when the
machine cannot make the drive, so ctest reports a skip with the reason.
"""

import argparse
import errno
import hashlib
import os
import pwd
import random
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import time

SKIP = 77
NOBODY = 65534

# Extensions the media lists copy with no device filter and every category (matched without
# regard to case), and some they never copy.
ELIGIBLE_EXTENSIONS = [b".txt", b".pdf", b".doc", b".jpg", b".gif", b".html", b".mp3", b".rtf"]
OTHER_EXTENSIONS = [b".xyz", b".c", b".bin", b""]
NEVER_SYNCED_NAMES = [b".DS_Store", b".Trashes", b".localized"]
NEVER_SYNCED_FOLDERS = [b".Trash", b".Spotlight-V100"]
WINDOWS_BAD_CHARS = b':*?"<>|\\'

# Modification-date precision of each kind of drive, in nanoseconds.
PRECISION_NS = {"ext4": 1, "exfat": 10_000_000, "ntfs": 100, "fat32": 2_000_000_000}
CASE_INSENSITIVE = {"ext4": False, "exfat": True, "ntfs": False, "fat32": True}


def log(text):
    print(text, flush=True)


def run_quiet(arguments, timeout=120, env=None):
    """Runs a helper program; answers (ok, output)."""
    try:
        done = subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout,
                              env=env)
    except (OSError, subprocess.TimeoutExpired) as error:
        return False, str(error)
    return done.returncode == 0, done.stdout.decode(errors="replace")


def wait_until(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.02)
    return predicate()


# --------------------------------------------------------------------------------------------
# Drive images, mounted the way tests/support/DriveImage mounts them.

class Drive:
    FORMATTERS = {"ext4": ["mkfs.ext4", "-q", "-F", "-m", "0"], "exfat": ["mkfs.exfat"],
                  "ntfs": ["mkntfs", "-F", "-Q", "-q"], "fat32": ["mkfs.vfat", "-F", "32"]}

    def __init__(self, fs, size_mib, base):
        self.fs = fs
        self.size_mib = size_mib
        self.dir = tempfile.mkdtemp(prefix="pellmere-checker-drive-", dir=base)
        os.chmod(self.dir, 0o755)  # an unprivileged sync reaches the mount point through it
        self.image = os.path.join(self.dir, "drive.img")
        self.mount_point = os.path.join(self.dir, "mnt")
        os.mkdir(self.mount_point)
        self.loop = None
        self.mounted = False
        self.mount_seconds = 0.0

    @staticmethod
    def unavailable(fs):
        if os.geteuid() != 0:
            return "mounting drive images needs root (loop devices, mount)"
        if shutil.which(Drive.FORMATTERS[fs][0]) is None:
            return Drive.FORMATTERS[fs][0] + " is not installed"
        if fs != "ext4" and not os.access("/dev/fuse", os.R_OK | os.W_OK):
            return "/dev/fuse is not available"
        needed = {"ext4": "mount", "exfat": "mount.exfat-fuse", "ntfs": "ntfs-3g", "fat32": "guestmount"}[fs]
        if shutil.which(needed) is None:
            if fs == "fat32":
                return "writing to FAT needs libguestfs-tools (guestmount) and a distribution kernel"
            return needed + " is not installed"
        if fs == "fat32" and not any(n.startswith("vmlinuz-") for n in os.listdir("/boot")):
            return "writing to FAT needs a distribution kernel in /boot for the libguestfs appliance"
        if fs != "fat32" and not os.access("/dev/loop-control", os.R_OK | os.W_OK):
            return "loop devices are not available"
        return ""

    def create(self):
        with open(self.image, "wb") as image:
            image.truncate(self.size_mib * 1024 * 1024)
        ok, output = run_quiet(self.FORMATTERS[self.fs] + [self.image])
        return ok, output

    def _driver_pids(self):
        wanted = os.fsencode(self.mount_point)
        pids = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as cmdline:
                    if wanted in cmdline.read().split(b"\0"):
                        pids.append(int(entry))
            except OSError:
                pass
        return pids

    def is_mounted(self):
        with open("/proc/self/mountinfo", "rb") as mountinfo:
            wanted = os.fsencode(self.mount_point)
            return any(line.split(b" ")[4] == wanted for line in mountinfo)

    def mount(self):
        start = time.monotonic()
        env = dict(os.environ, LIBGUESTFS_BACKEND="direct", LIBGUESTFS_BACKEND_SETTINGS="force_tcg", LC_ALL="C")
        if self.fs == "fat32":
            ok, output = run_quiet(["guestmount", "--format=raw", "-a", self.image, "-m", "/dev/sda", "--rw",
                                    "-o", "fsname=" + self.image, "-o", "subtype=vfat", self.mount_point],
                                   timeout=900, env=env)
        else:
            ok, output = run_quiet(["losetup", "-f", "--show", self.image])
            if not ok:
                return False, "losetup failed: " + output
            self.loop = output.strip()
            if self.fs == "ext4":
                ok, output = run_quiet(["mount", "-t", "ext4", self.loop, self.mount_point])
            elif self.fs == "exfat":
                ok, output = run_quiet(["mount.exfat-fuse", self.loop, self.mount_point])
            else:
                ok, output = run_quiet(["ntfs-3g", self.loop, self.mount_point])
        self.mount_seconds = time.monotonic() - start
        self.mounted = ok
        if not ok:
            self.unmount()
        return ok, output

    def unmount(self, lazy=False):
        """Unmounts (lazily when asked: the drive vanishes under a running sync)."""
        pids = self._driver_pids()
        if self.mounted or self.is_mounted():
            os.sync()
            if lazy:
                run_quiet(["umount", "-l", self.mount_point])
            else:
                tool = "guestunmount" if self.fs == "fat32" else "umount"
                if not wait_until(lambda: run_quiet([tool, self.mount_point])[0], 20):
                    run_quiet(["umount", "-l", self.mount_point])
            self.mounted = False
        return pids

    def finish_unmount(self, pids):
        """Waits for the FUSE driver to write everything and exit, then frees the loop device."""
        gone = wait_until(lambda: all(not os.path.exists("/proc/%d" % pid) for pid in pids),
                          180 if self.fs == "fat32" else 60)
        if self.loop:
            backing = "/sys/block/%s/loop/backing_file" % os.path.basename(self.loop)
            wait_until(lambda: not os.path.exists(backing) or run_quiet(["losetup", "-d", self.loop])[0], 20)
            wait_until(lambda: not os.path.exists(backing), 20)
            self.loop = None
        return gone

    def date_precision(self):
        """The coarsest of the format's date precision and what this driver really keeps (exfat-fuse
        keeps whole seconds), measured with a probe file."""
        probe = os.path.join(self.mount_point, "date-probe")
        with open(probe, "wb"):
            pass
        wanted = 1_600_000_000_000_000_000 + 1_987_654_321
        os.utime(probe, ns=(wanted, wanted))
        kept = os.stat(probe).st_mtime_ns
        os.unlink(probe)
        error = abs(wanted - kept)
        measured = next((p for p in (1, 100, 10_000_000, 1_000_000_000, 2_000_000_000) if error < p), 2_000_000_000)
        return max(PRECISION_NS[self.fs], measured)

    def close(self):
        self.finish_unmount(self.unmount())
        shutil.rmtree(self.dir, ignore_errors=True)


# --------------------------------------------------------------------------------------------
# Snapshots.

def file_digest(path):
    digest = hashlib.sha1()
    with open(path, "rb") as handle:
        for block in iter(lambda: handle.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def snapshot(root, skip=lambda relative: False):
    """Path -> (kind, size, mtime_ns, mode, content digest or link target) of everything below root."""
    entries = {}

    def visit(folder, relative):
        try:
            names = os.listdir(folder)
        except OSError as error:
            entries[relative + b"/<listing>"] = ("error", error.errno)
            return
        for name in names:
            path = os.path.join(folder, name)
            rel = os.path.join(relative, name) if relative else name
            if skip(rel):
                continue
            info = os.lstat(path)
            mode = stat.S_IMODE(info.st_mode)
            if stat.S_ISLNK(info.st_mode):
                entries[rel] = ("link", os.readlink(path))
            elif stat.S_ISDIR(info.st_mode):
                entries[rel] = ("dir", mode)
                visit(path, rel)
            elif stat.S_ISREG(info.st_mode):
                entries[rel] = ("file", info.st_size, info.st_mtime_ns, mode, file_digest(path))
            else:
                entries[rel] = ("other", stat.S_IFMT(info.st_mode), info.st_mtime_ns, mode)

    visit(root, b"")
    return entries


def describe_differences(before, after, limit=8):
    lines = []
    for rel in sorted(set(before) | set(after)):
        if before.get(rel) != after.get(rel):
            lines.append("    %r: %r -> %r" % (rel, before.get(rel), after.get(rel)))
    if len(lines) > limit:
        lines = lines[:limit] + ["    ... and %d more" % (len(lines) - limit)]
    return lines


# --------------------------------------------------------------------------------------------
# One scenario.

class Failure(Exception):
    pass


class Scenario:
    def __init__(self, checker, seed):
        self.checker = checker
        self.seed = seed
        self.rng = random.Random(seed)
        self.fs = checker.fs
        self.drive = checker.drive
        self.failures = []
        self.features = set()
        self.counter = 0
        fs = self.fs
        rng = self.rng
        self.unprivileged = fs == "ext4" and rng.random() < 0.35
        self.uid = NOBODY if self.unprivileged else 0
        if self.unprivileged:
            self.features.add("unprivileged")
        self.home = os.path.join(checker.work, b"home-%d" % seed)
        self.item_name = b"s%d" % seed
        self.item = os.path.join(self.home, self.item_name)
        user = pwd.getpwuid(self.uid).pw_name.encode()
        self.user_folder_name = user + b"_" + checker.machine_name
        self.user_folder = os.path.join(self.drive_root(), self.user_folder_name)
        self.drive_item = os.path.join(self.user_folder, self.item_name)
        self.ever_local = set()
        self.history = {}  # relative path -> the last change made to it, for failure reports
        self.seeded_drive_only = set()
        self.blockers = set()  # relative paths that no sync can put on this drive
        self.last_duration = 1.0
        self.log_index = 0
        # What the generator may use in this scenario.
        self.use = {
            "unicode": rng.random() < 0.6, "long": rng.random() < 0.4, "case": rng.random() < 0.3,
            "badchars": rng.random() < 0.15, "nonutf8": rng.random() < 0.15, "links": rng.random() < 0.5,
            "sparse": rng.random() < 0.3, "large": rng.random() < 0.25, "unreadable": self.unprivileged
            and rng.random() < 0.5, "fifo": rng.random() < 0.05, "hidden": rng.random() < 0.3,
            "older": rng.random() < 0.2,
        }

    def drive_root(self):
        return os.fsencode(self.drive.mount_point)

    # ---- names and files

    def fresh_stem(self):
        self.counter += 1
        rng = self.rng
        stem = b"n%d" % self.counter
        roll = rng.random()
        if self.use["unicode"] and roll < 0.3:
            self.features.add("unicode")
            stem += rng.choice(["-é", "-日本語", "-Ωmega", "-🎵", "-e\u0301", "-ß"]).encode()
        elif self.use["long"] and roll < 0.45:
            self.features.add("long-names")
            stem += b"-" + b"L" * rng.randint(150, 230)
        elif self.use["badchars"] and roll < 0.55:
            self.features.add("bad-chars")
            stem += b"-" + bytes([rng.choice(WINDOWS_BAD_CHARS)]) + b"x"
        elif self.use["nonutf8"] and roll < 0.62:
            self.features.add("non-utf8")
            stem += b"-\xff\xfe"
        elif self.use["hidden"] and roll < 0.7:
            self.features.add("hidden")
            stem = b"." + stem
        else:
            stem += rng.choice([b"", b" space", b"-dash", b"_under"])
        return stem

    def holdable(self, relative):
        """Whether the drive can hold this computer path under its own name."""
        if self.fs == "ext4":
            return True
        for part in relative.split(b"/"):
            if any(c in part for c in WINDOWS_BAD_CHARS) or part.endswith((b".", b" ")):
                return False
            try:
                part.decode("utf-8")
            except UnicodeDecodeError:
                return False
        return True

    def content(self, size):
        return self.rng.randbytes(size)

    def write_file(self, path, kind=None):
        rng = self.rng
        kind = kind or rng.choice(["small", "small", "small", "empty", "sparse", "large"])
        if kind == "empty" or (kind == "sparse" and not self.use["sparse"]) or (
                kind == "large" and not self.use["large"]):
            kind = "small" if kind != "empty" else "empty"
        with open(path, "wb") as handle:
            if kind == "small":
                handle.write(self.content(rng.randint(1, 64 * 1024)))
            elif kind == "sparse":
                self.features.add("sparse")
                handle.write(self.content(rng.randint(1, 4096)))
                handle.seek(rng.randint(1, 3) * 1024 * 1024)
                handle.write(self.content(rng.randint(1, 4096)))
            elif kind == "large":
                self.features.add("large")
                size = rng.randint(2, 6) * 1024 * 1024 if self.fs != "fat32" else rng.randint(1, 2) * 1024 * 1024
                handle.write(self.content(size))
            else:
                self.features.add("empty-file")

    def new_file_name(self, folder, eligible=True):
        stem = self.fresh_stem()
        extension = rng_choice(self.rng, ELIGIBLE_EXTENSIONS if eligible else OTHER_EXTENSIONS)
        name = stem + extension
        if self.use["case"] and eligible and self.rng.random() < 0.2:
            # A sibling that differs only in case: one name on a case-insensitive drive.
            self.features.add("case-collision")
            twin = name.upper() if name != name.upper() else name.lower()
            if twin != name:
                twin_path = os.path.join(folder, twin)
                if not os.path.lexists(twin_path):
                    self.write_file(twin_path, "small")
        return name

    def add_file(self, folder):
        path = os.path.join(folder, self.new_file_name(folder, self.rng.random() < 0.85))
        self.write_file(path)
        return path

    def add_folder(self, folder):
        path = os.path.join(folder, self.fresh_stem().replace(b".", b"_"))
        os.mkdir(path)
        return path

    def add_link(self, folder):
        self.features.add("links")
        targets = [b"/etc/hostname", b"../", b"missing-target.txt", os.path.join(self.item, b"")]
        existing = [os.path.join(folder, n) for n in os.listdir(folder)]
        if existing:
            targets.append(self.rng.choice(existing))
        os.symlink(self.rng.choice(targets), os.path.join(folder, b"link%d.txt" % self.next_id()))

    def next_id(self):
        self.counter += 1
        return self.counter

    def build_tree(self):
        rng = self.rng
        os.makedirs(self.item)
        folders = [self.item]
        # Writes to the FAT drive go through an emulated machine: fewer files there.
        few = self.fs == "fat32"
        for _ in range(rng.randint(2, 4 if few else 6)):
            folders.append(self.add_folder(rng.choice(folders)))
        for _ in range(rng.randint(5, 12) if few else rng.randint(8, 30)):
            self.add_file(rng.choice(folders))
        if rng.random() < 0.5:
            self.features.add("empty-folder")
            self.add_folder(rng.choice(folders))
        if self.use["links"]:
            for _ in range(rng.randint(1, 3)):
                self.add_link(rng.choice(folders))
        if rng.random() < 0.4:
            self.features.add("never-synced-names")
            folder = rng.choice(folders)
            with open(os.path.join(folder, rng.choice(NEVER_SYNCED_NAMES)), "wb") as handle:
                handle.write(b"never copied")
            hidden = os.path.join(folder, rng.choice(NEVER_SYNCED_FOLDERS))
            if not os.path.exists(hidden):
                os.mkdir(hidden)
                with open(os.path.join(hidden, b"inside.txt"), "wb") as handle:
                    handle.write(b"never copied either")
        if self.use["fifo"]:
            self.features.add("fifo")
            os.mkfifo(os.path.join(rng.choice(folders), b"pipe%d.txt" % self.next_id()))
        if self.use["unreadable"]:
            self.features.add("unreadable")
            path = self.add_file(rng.choice(folders))
            os.chmod(path, 0)
            if rng.random() < 0.5:
                closed = self.add_folder(rng.choice(folders))
                self.add_file(closed)
                os.chmod(closed, 0)

    # ---- the model of what must be on the drive

    def local_entries(self):
        """Relative path -> lstat of every entry below the item (as root sees it)."""
        entries = {}
        for folder, dirs, files in os.walk(self.item):
            for name in dirs + files:
                path = os.path.join(folder, name)
                entries[os.path.relpath(path, self.item)] = os.lstat(path)
        return entries

    def eligible_files(self, entries):
        result = {}
        for rel, info in entries.items():
            parts = rel.split(b"/")
            if not stat.S_ISREG(info.st_mode):
                continue
            if any(p in NEVER_SYNCED_NAMES or p in NEVER_SYNCED_FOLDERS for p in parts):
                continue
            if not any(parts[-1].lower().endswith(ext) for ext in ELIGIBLE_EXTENSIONS):
                continue
            result[rel] = info
        return result

    def blocked(self, entries):
        """Eligible entries no sync of this scenario can copy: what a successful sync cannot claim."""
        reasons = {}
        eligible = self.eligible_files(entries)
        for rel in eligible:
            if not self.holdable(rel):
                reasons[rel] = "name the drive cannot hold"
        if CASE_INSENSITIVE[self.fs]:
            seen = {}
            for rel in eligible:
                key = rel.decode(errors="surrogateescape").casefold()
                if key in seen:
                    reasons[rel] = "case-insensitive twin of %r" % seen[key]
                    reasons[seen[key]] = "case-insensitive twin of %r" % rel
                seen[key] = rel
        if self.fs != "ext4":
            # The walk reports every name it reaches that the drive cannot hold as text, of a
            # folder or of a file of any kind, before any filter: each one keeps a sync from
            # completing (names below never-synced folders are never reached).
            for rel in entries:
                parts = rel.split(b"/")
                if any(p in NEVER_SYNCED_FOLDERS for p in parts[:-1]):
                    continue
                try:
                    parts[-1].decode("utf-8")
                except UnicodeDecodeError:
                    reasons[rel] = "name that is not UTF-8"
        if self.unprivileged:
            for rel, info in entries.items():
                if stat.S_IMODE(info.st_mode) == 0:
                    reasons[rel] = "unreadable"
        for rel, info in entries.items():
            if stat.S_ISFIFO(info.st_mode):
                reasons[rel] = "a pipe"
        return reasons

    def local_has(self, rel, local_names_cf):
        if os.path.lexists(os.path.join(self.item, rel)):
            return True
        if CASE_INSENSITIVE[self.fs]:
            return rel.decode(errors="surrogateescape").casefold() in local_names_cf
        return False

    def drive_only_state(self):
        """Drive files whose computer counterpart is gone (or never was): they must stay as they are."""
        entries = self.local_entries()
        names_cf = {rel.decode(errors="surrogateescape").casefold() for rel in entries}
        state = {}
        listings = {}
        for rel in self.ever_local | self.seeded_drive_only:
            if self.local_has(rel, names_cf):
                continue
            stored = self.stored_name(rel, listings)
            if stored is None:
                continue
            path = os.path.join(self.drive_item, stored)
            try:
                info = os.lstat(path)
            except OSError:
                continue
            if stat.S_ISREG(info.st_mode):
                state[stored] = (info.st_size, info.st_mtime_ns, file_digest(path))
        return state

    def stored_name(self, rel, listings):
        """The name the drive stores rel under. A case-insensitive drive answers to every case
        variant of a name, but the kernel caches each variant as a file of its own: right after
        a sync replaced "a.gif" through the name "A.GIF", reading "a.gif" can still show the old
        size and content. Reading through the stored name sees what the drive holds."""
        if not CASE_INSENSITIVE[self.fs]:
            return rel
        stored = []
        for part in rel.split(b"/"):
            folder = os.path.join(self.drive_item, *stored) if stored else self.drive_item
            if folder not in listings:
                try:
                    listings[folder] = os.listdir(folder)
                except OSError:
                    listings[folder] = []
            names = listings[folder]
            if part not in names:
                wanted = part.decode(errors="surrogateescape").casefold()
                part = next((n for n in names if n.decode(errors="surrogateescape").casefold() == wanted), None)
                if part is None:
                    return None
            stored.append(part)
        return b"/".join(stored)

    def outside_skip(self, rel):
        top = rel.split(b"/")[0]
        return top == self.user_folder_name or top.startswith(b".PellmereConfig") or top == b"lost+found"

    def outside_snapshot(self):
        return snapshot(self.drive_root(), self.outside_skip)

    def computer_snapshot(self):
        return snapshot(self.item)

    # ---- checks

    def fail(self, what, details=()):
        self.failures.append(what)
        log("  FAIL [%s seed=%d]: %s" % (self.fs, self.seed, what))
        for line in details:
            log(line)

    def check_complete(self, label, blockers, skip=()):
        """Every eligible computer file is on the drive with equal content and date."""
        entries = self.local_entries()
        eligible = self.eligible_files(entries)
        precision = self.checker.precision
        problems = []
        for rel, info in sorted(eligible.items()):
            if rel in skip:
                continue
            path = os.path.join(self.drive_item, rel)
            try:
                drive_info = os.stat(path, follow_symlinks=False)
            except OSError as error:
                problems.append("    %r missing on the drive (%s)%s" % (rel, os.strerror(error.errno),
                                                                         self.blocked_how(rel, blockers)))
                continue
            if not stat.S_ISREG(drive_info.st_mode):
                problems.append("    %r is not a regular file on the drive" % rel)
                continue
            if drive_info.st_size != info.st_size or file_digest(path) != file_digest(
                    os.path.join(self.item, rel)):
                problems.append("    %r differs in content (computer %d bytes, drive %d bytes)%s%s" % (
                    rel, info.st_size, drive_info.st_size, self.changed_how(rel), self.blocked_how(rel, blockers)))
                continue
            if abs(drive_info.st_mtime_ns - info.st_mtime_ns) >= precision:
                problems.append("    %r has date %d on the drive, %d on the computer (precision %d ns)%s" % (
                    rel, drive_info.st_mtime_ns, info.st_mtime_ns, precision, self.changed_how(rel)))
        if problems:
            self.fail("%s: the sync reported success but the drive is not complete" % label,
                      problems[:10] + (["    ... and %d more" % (len(problems) - 10)] if len(problems) > 10 else []))

    @staticmethod
    def blocked_how(rel, blockers):
        """Why no sync could copy this file, when that is so (the sync must then not succeed)."""
        return next((" - %r: %s" % (b, r) for b, r in blockers.items() if rel == b or rel.startswith(b + b"/")), "")

    def changed_how(self, rel):
        return " - last change: " + self.history[rel] if rel in self.history else ""

    def check_never_copied(self, label):
        problems = []
        for folder, dirs, files in os.walk(self.drive_item):
            for name in dirs + files:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    problems.append("    a symbolic link reached the drive: %r" % path)
                if name in NEVER_SYNCED_NAMES or name in NEVER_SYNCED_FOLDERS:
                    problems.append("    a never-synced name reached the drive: %r" % path)
        if problems:
            self.fail("%s: items that are never copied are on the drive" % label, problems[:10])

    def check_untouched(self, label, before):
        outside_before, computer_before, drive_only_before, ignore = before
        outside_after = self.outside_snapshot()
        if outside_after != outside_before:
            self.fail("%s: the drive was written outside the user's folder and configuration" % label,
                      describe_differences(outside_before, outside_after))
        computer_after = self.computer_snapshot()
        for rel in ignore:
            computer_after.pop(rel, None)
            computer_before.pop(rel, None)
        if computer_after != computer_before:
            self.fail("%s: the computer's files changed" % label,
                      describe_differences(computer_before, computer_after))
        drive_only_after = self.drive_only_state()
        changed = ["    %r: %r -> %r" % (rel, state, drive_only_after.get(rel))
                   for rel, state in sorted(drive_only_before.items()) if drive_only_after.get(rel) != state]
        if changed:
            self.fail("%s: files that exist only on the drive were touched" % label, changed[:10])

    def state_before(self, ignore=()):
        return self.outside_snapshot(), self.computer_snapshot(), self.drive_only_state(), set(ignore)

    # ---- running the program

    def environment(self):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": os.fsdecode(self.home),
            "XDG_CONFIG_HOME": os.fsdecode(os.path.join(self.home, b".config")),
            "XDG_DATA_HOME": os.fsdecode(os.path.join(self.home, b".local/share")),
            "XDG_CACHE_HOME": os.fsdecode(os.path.join(self.home, b".cache")),
            "XDG_STATE_HOME": os.fsdecode(os.path.join(self.home, b".local/state")),
            "XDG_RUNTIME_DIR": os.fsdecode(os.path.join(self.home, b".runtime")),
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "QT_QPA_PLATFORM": "offscreen",
        }
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        return env

    def command(self):
        arguments = [self.checker.binary, "sync", "--drive", self.drive.mount_point, "--item",
                     os.fsdecode(self.item), "--device-filter", "0", "--categories", "all"]
        if self.unprivileged:
            arguments = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] + arguments
        return arguments

    def start(self):
        self.log_index += 1
        log_path = os.path.join(self.checker.work, b"seed-%d-run-%d.log" % (self.seed, self.log_index))
        handle = open(log_path, "wb")
        process = subprocess.Popen(self.command(), stdout=handle, stderr=subprocess.STDOUT, env=self.environment(),
                                   cwd="/")
        handle.close()
        process.log_path = log_path
        process.started = time.monotonic()
        return process

    def finish(self, process, label):
        """Waits for a run; answers its exit status, or None when it hung or crashed (a failure)."""
        try:
            status = process.wait(timeout=self.checker.run_timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            self.fail("%s: the sync did not end within %d s" % (label, self.checker.run_timeout),
                      self.log_tail(process))
            return None
        if status not in (0, 1, 2) and status != -signal.SIGKILL:
            self.fail("%s: the sync ended with status %d" % (label, status), self.log_tail(process))
            return None
        return status

    def holds_drive(self, process):
        """Whether the running sync has a descriptor open on the drive's mount point or below it."""
        mount_point = os.fsencode(self.drive.mount_point)
        folder = b"/proc/%d/fd" % process.pid
        try:
            names = os.listdir(folder)
        except OSError:
            return False
        for name in names:
            try:
                target = os.readlink(os.path.join(folder, name))
            except OSError:
                continue
            if target == mount_point or target.startswith(mount_point + b"/"):
                return True
        return False

    def log_tail(self, process, lines=12):
        try:
            with open(process.log_path, "rb") as handle:
                text = handle.read().decode(errors="replace").splitlines()
        except OSError:
            return []
        return ["    | " + line for line in text[-lines:]]

    def sync(self, label, expect_success):
        process = self.start()
        status = self.finish(process, label)
        if status is not None:
            self.last_duration = max(0.05, time.monotonic() - process.started)
        if expect_success and status is not None and status != 0:
            what = "%s: the sync failed although nothing prevents it (status %d)" % (label, status)
            if self.checker.liveness_open:
                # A sync that fails honestly breaks no promise about the drive; where such
                # failures are a known open fault they are shown, not counted.
                log("  OPEN [%s seed=%d]: %s" % (self.fs, self.seed, what))
                for line in self.log_tail(process)[-6:]:
                    log(line)
            else:
                self.fail(what, self.log_tail(process))
        return status

    # ---- the scenario's steps

    def prepare_drive(self):
        root = self.drive_root()
        for name in os.listdir(root):
            if name == b"lost+found":
                continue
            path = os.path.join(root, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.unlink(path)
        # Things that belong to others: another folder, another user's copies.
        os.makedirs(os.path.join(root, b"Other stuff"))
        with open(os.path.join(root, b"Other stuff", b"notes.txt"), "wb") as handle:
            handle.write(self.content(3000))
        other_user = os.path.join(root, b"someone_" + self.checker.machine_name, self.item_name)
        os.makedirs(other_user)
        with open(os.path.join(other_user, b"theirs.txt"), "wb") as handle:
            handle.write(self.content(2000))
        # Files only on the drive, inside the folder this user syncs into.
        os.makedirs(os.path.join(self.drive_item, b"drive-only folder"))
        for rel in (b"only-on-drive.txt", b"drive-only folder/kept.doc"):
            with open(os.path.join(self.drive_item, rel), "wb") as handle:
                handle.write(self.content(1500))
            self.seeded_drive_only.add(rel)
        if self.unprivileged:
            os.chmod(root, 0o1777)
            for folder, dirs, files in os.walk(self.user_folder):
                for name in dirs + files:
                    os.chown(os.path.join(folder, name), NOBODY, NOBODY)
            os.chown(self.user_folder, NOBODY, NOBODY)
        else:
            os.chmod(root, 0o755)

    def prepare_home(self):
        if os.path.exists(self.home):
            self.release_home()
            shutil.rmtree(self.home)
        os.makedirs(os.path.join(self.home, b".runtime"), mode=0o700)
        self.build_tree()
        self.own_home()

    def own_home(self):
        if not self.unprivileged:
            return
        for folder, dirs, files in os.walk(self.home):
            for name in dirs + files:
                os.chown(os.path.join(folder, name), NOBODY, NOBODY, follow_symlinks=False)
        os.chown(self.home, NOBODY, NOBODY)

    def release_home(self):
        """Makes everything readable again (for clean-up and for the last sync)."""
        for folder, dirs, files in os.walk(self.home):
            for name in dirs + files:
                path = os.path.join(folder, name)
                if not os.path.islink(path) and stat.S_IMODE(os.lstat(path).st_mode) == 0:
                    os.chmod(path, 0o755 if os.path.isdir(path) else 0o644)
        for folder, dirs, files in os.walk(self.home):  # folders opened above may hold more
            for name in dirs + files:
                path = os.path.join(folder, name)
                if not os.path.islink(path) and stat.S_IMODE(os.lstat(path).st_mode) == 0:
                    os.chmod(path, 0o644)

    def remember_local(self):
        for rel, info in self.local_entries().items():
            if stat.S_ISREG(info.st_mode):
                self.ever_local.add(rel)

    def mutate(self):
        """Random changes between syncs."""
        rng = self.rng
        entries = self.local_entries()
        files = [rel for rel, info in entries.items() if stat.S_ISREG(info.st_mode)
                 and stat.S_IMODE(info.st_mode) != 0]
        folders = [self.item] + [os.path.join(self.item, rel) for rel, info in entries.items()
                                 if stat.S_ISDIR(info.st_mode) and stat.S_IMODE(info.st_mode) != 0
                                 and not any(p in NEVER_SYNCED_FOLDERS for p in rel.split(b"/"))]
        for _ in range(rng.randint(1, 6)):
            action = rng.choice(["create", "create", "modify", "modify", "delete", "rename", "rename-folder",
                                 "folder"])
            if self.use["older"] and rng.random() < 0.2:
                # In a fifth of the scenarios only: while it fails, it would hide everything else.
                action = "older"
            if action in ("modify", "delete", "rename", "older") and not files:
                action = "create"
            if action == "create":
                self.add_file(rng.choice(folders))
            elif action == "folder":
                folder = self.add_folder(rng.choice(folders))
                self.add_file(folder)
                folders.append(folder)
            elif action == "modify":
                self.features.add("modify")
                rel = rng.choice(files)
                path = os.path.join(self.item, rel)
                with open(path, "ab" if rng.random() < 0.5 else "wb") as handle:
                    handle.write(self.content(rng.randint(1, 20000)))
                # A later date than before, by more than the coarsest drive precision.
                later = max(time.time_ns(), os.lstat(path).st_mtime_ns + 3_000_000_000)
                os.utime(path, ns=(later, later))
                self.history[rel] = "modified"
            elif action == "delete":
                self.features.add("delete")
                rel = rng.choice(files)
                os.unlink(os.path.join(self.item, rel))
                files.remove(rel)
            elif action == "rename":
                self.features.add("rename")
                rel = rng.choice(files)
                source = os.path.join(self.item, rel)
                target = os.path.join(rng.choice(folders), self.fresh_stem() + os.path.splitext(rel)[1])
                os.rename(source, target)
                files.remove(rel)
                self.history[os.path.relpath(target, self.item)] = "renamed from %r" % rel
            elif action == "rename-folder" and len(folders) > 1:
                self.features.add("rename-folder")
                source = rng.choice(folders[1:])
                target = os.path.join(os.path.dirname(source), self.fresh_stem().replace(b".", b"_"))
                os.rename(source, target)
                return self.own_home()  # the folder list is stale now
            elif action == "older":
                # The file is replaced by another version that carries an older date than the copy
                # on the drive (restored from a backup, say).
                self.features.add("older-dated-replacement")
                rel = rng.choice(files)
                path = os.path.join(self.item, rel)
                info = os.lstat(path)
                with open(path, "wb") as handle:
                    handle.write(self.content(rng.randint(1, 30000)))
                older = info.st_mtime_ns - rng.randint(10, 10 ** 6) * 1_000_000_000
                older = max(older, 1_262_304_000 * 1_000_000_000)  # not before 2010
                os.utime(path, ns=(older, older))
                self.history[rel] = "replaced by a version dated before the drive's copy"
        self.own_home()

    def fill_drive(self):
        free = os.statvfs(self.drive_root())
        room = free.f_bavail * free.f_frsize
        leave = self.rng.randint(0, 512 * 1024)
        filler = os.path.join(self.drive_root(), b"filler.bin")
        size = max(0, room - leave)
        # Unbuffered: a buffered tail would meet the full drive only when the file is closed,
        # outside the handling below.
        with open(filler, "wb", buffering=0) as handle:
            try:
                os.posix_fallocate(handle.fileno(), 0, size)
            except OSError:
                block = bytes(1 << 20)
                try:
                    while size > 0:
                        handle.write(block[:min(size, len(block))])
                        size -= len(block)
                except OSError as error:
                    if error.errno != errno.ENOSPC:
                        raise
        return filler

    def round(self, number):
        rng = self.rng
        modes = ["plain", "plain", "kill", "kill-moving", "concurrent", "edit-during"]
        if self.fs != "fat32":
            # The FAT drive is written through an emulated appliance: it is mounted once (slow to
            # boot) and fills at well under 1 MiB/s, so these two faults run on the other kinds.
            modes += ["fill", "unmount"]
        mode = rng.choice(modes)
        label = "round %d (%s)" % (number, mode)
        self.remember_local()
        blockers = self.blocked(self.local_entries())
        fault = mode != "plain"

        if mode == "plain":
            before = self.state_before()
            status = self.sync(label, expect_success=not blockers)
            self.after_run(label, before, status, blockers)
        elif mode in ("kill", "kill-moving"):
            self.features.add(mode)
            before = self.state_before()
            pending = [rel for rel in self.eligible_files(self.local_entries())
                       if not os.path.lexists(os.path.join(self.drive_item, rel))]
            process = self.start()
            if mode == "kill-moving" and pending:
                # Kill as soon as the first copy shows up in its final place.
                targets = [os.path.join(self.drive_item, rel) for rel in pending]
                wait_until(lambda: process.poll() is not None or any(os.path.lexists(t) for t in targets),
                           self.checker.run_timeout)
            else:
                time.sleep(rng.uniform(0, self.last_duration * 1.2))
            if process.poll() is None:
                process.send_signal(signal.SIGKILL)
            status = self.finish(process, label)
            self.after_run(label, before, status, blockers)
        elif mode == "concurrent":
            self.features.add("concurrent")
            before = self.state_before()
            first = self.start()
            time.sleep(rng.uniform(0, min(0.3, self.last_duration)))
            second = self.start()
            statuses = [self.finish(first, label + " first"), self.finish(second, label + " second")]
            status = 0 if 0 in statuses else next((s for s in statuses if s is not None), None)
            self.after_run(label, before, status, blockers)
        elif mode == "edit-during":
            self.features.add("edit-during-sync")
            files = [rel for rel, info in self.eligible_files(self.local_entries()).items()
                     if stat.S_IMODE(info.st_mode) != 0 and rel not in blockers]
            if not files:
                return self.round(number)
            rel = rng.choice(files)
            before = self.state_before(ignore={rel})
            process = self.start()
            time.sleep(rng.uniform(0, self.last_duration))
            path = os.path.join(self.item, rel)
            with open(path, "ab") as handle:
                handle.write(self.content(rng.randint(1, 50000)))
            later = max(time.time_ns(), os.lstat(path).st_mtime_ns + 3_000_000_000)
            os.utime(path, ns=(later, later))
            status = self.finish(process, label)
            self.history[rel] = "edited during a sync"
            # The edited file may hold either version; the next sync must bring the new one.
            self.after_run(label, before, status, blockers, skip={rel})
        elif mode == "fill":
            self.features.add("drive-full")
            filler = self.fill_drive()
            before = self.state_before()
            status = self.sync(label, expect_success=False)
            self.after_run(label, before, status, blockers)
            os.unlink(filler)
        elif mode == "unmount":
            self.features.add("unmounted-mid-sync")
            before = self.state_before()
            process = self.start()
            # Mid-sync means once the sync works on the drive (it holds the mount point open
            # meanwhile). Gone before the program even looked, the path is just a folder of
            # the computer, which a sync told to use it rightly fills.
            wait_until(lambda: process.poll() is not None or self.holds_drive(process), self.checker.run_timeout)
            time.sleep(rng.uniform(0, self.last_duration))
            pids = self.drive.unmount(lazy=True)
            status = self.finish(process, label)
            self.drive.finish_unmount(pids)
            stray = os.listdir(self.drive.mount_point)
            if stray:
                self.fail("%s: the sync wrote into the mount point's folder after the drive was gone" % label,
                          ["    %r" % name for name in stray[:10]])
                for name in stray:
                    path = os.path.join(self.drive.mount_point, name)
                    shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.unlink(path)
            ok, output = self.drive.mount()
            if not ok:
                raise Failure("cannot mount the drive again: " + output)
            if status == 0:
                self.check_complete(label, blockers)
            self.check_untouched(label, before)
        if fault and not self.failures:
            # The next sync must complete and repair whatever the fault left.
            recovery = "%s, then a sync" % label
            before = self.state_before()
            status = self.sync(recovery, expect_success=not blockers)
            self.after_run(recovery, before, status, blockers)

    def after_run(self, label, before, status, blockers, skip=()):
        # What nothing can copy (blockers) does not excuse a success: the sync must say it failed.
        if status == 0:
            self.check_complete(label, blockers, skip)
        self.check_untouched(label, before)
        self.check_never_copied(label)

    def run(self):
        self.prepare_drive()
        self.prepare_home()
        try:
            for number in range(1, self.rng.randint(2, 3 if self.fs == "fat32" else 5) + 1):
                self.round(number)
                if self.failures:
                    break
                self.mutate()
            if not self.failures:
                # What no sync can copy goes away; then a sync must complete and make the drive whole.
                self.release_home()
                for rel in self.blocked(self.local_entries()):
                    path = os.path.join(self.item, rel)
                    if os.path.isdir(path) and not os.path.islink(path):
                        shutil.rmtree(path)
                    elif os.path.lexists(path):
                        os.unlink(path)
                # So do folders the drive cannot hold by name: the sync mirrors folders too, and
                # one it cannot make rightly keeps the sync from completing.
                for rel, info in sorted(self.local_entries().items()):
                    path = os.path.join(self.item, rel)
                    if stat.S_ISDIR(info.st_mode) and not self.holdable(rel) and os.path.lexists(path):
                        shutil.rmtree(path)
                self.own_home()
                self.remember_local()
                before = self.state_before()
                status = self.sync("last sync", expect_success=True)
                self.after_run("last sync", before, status, {})
        finally:
            self.release_home()
        return not self.failures


def rng_choice(rng, items):
    return items[rng.randrange(len(items))]


# --------------------------------------------------------------------------------------------

def machine_name():
    try:
        with open("/etc/machine-info", "rb") as info:
            for line in info:
                line = line.strip()
                if line.startswith(b"PRETTY_HOSTNAME="):
                    value = line[len(b"PRETTY_HOSTNAME="):]
                    if len(value) >= 2 and value[:1] in (b'"', b"'") and value[-1:] == value[:1]:
                        value = value[1:-1]
                    value = value.replace(b'\\"', b'"')
                    if value:
                        return value
    except OSError:
        pass
    return socket.gethostname().encode() or b"Macintosh"


class Checker:
    def __init__(self, arguments):
        self.fs = arguments.fs
        self.binary = os.path.abspath(arguments.pellmere)
        self.work = os.fsencode(os.path.abspath(arguments.work_dir))
        self.machine_name = machine_name()
        self.run_timeout = 180 if self.fs == "fat32" else 60
        self.drive = None
        self.precision = PRECISION_NS[self.fs]
        self.liveness_open = arguments.liveness_failures_are_open


def known_failures(path):
    """The scenarios of the fixed seed ranges that fail on faults still open, each with its
    reason: {fs: {seed: reason}}. Listed so that the suite stays green while they are worked
    on, and printed on every run so that they are never forgotten."""
    known = {}
    try:
        with open(path, encoding="utf-8") as handle:
            for line in handle:
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                fs, seed_text, reason = line.split(None, 2)
                known.setdefault(fs, {})[int(seed_text)] = reason
    except FileNotFoundError:
        pass
    return known


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pellmere", required=True, help="the pellmere binary")
    parser.add_argument("--fs", required=True, choices=sorted(PRECISION_NS))
    parser.add_argument("--work-dir", required=True,
                        help="where the private homes go (not below /tmp: the engine never syncs /tmp)")
    parser.add_argument("--seconds", type=float, default=None,
                        help="budget for scenarios, after the drive is mounted (default: $PELLMERE_CHECKER_SECONDS, "
                             "else --default-seconds)")
    parser.add_argument("--default-seconds", type=float, default=45)
    parser.add_argument("--seed", type=int, default=None, help="replay one scenario")
    parser.add_argument("--liveness-failures-are-open", action="store_true",
                        help="show a sync that fails although nothing prevents it without counting it (an open "
                             "fault of this drive kind); a success that breaks a promise always counts")
    parser.add_argument("--base-seed", type=int, default=None,
                        help="run the scenarios from this seed on (default: a random one); CI uses a fixed one so "
                             "that its runs can be repeated, the soak a random one to find new faults")
    parser.add_argument("--keep", action="store_true", help="keep the work folder of failing scenarios")
    arguments = parser.parse_args()

    if arguments.seconds is None:
        arguments.seconds = float(os.environ.get("PELLMERE_CHECKER_SECONDS") or arguments.default_seconds)
    seed = arguments.seed
    if seed is None and os.environ.get("PELLMERE_CHECKER_SEED"):
        seed = int(os.environ["PELLMERE_CHECKER_SEED"])

    reason = Drive.unavailable(arguments.fs)
    if reason:
        log("SKIP: " + reason)
        return SKIP
    if not os.access(arguments.pellmere, os.X_OK):
        log("FAIL: %s is not an executable" % arguments.pellmere)
        return 1
    for prefix in ("/tmp", "/var"):
        if os.path.abspath(arguments.work_dir).startswith(prefix + "/"):
            log("FAIL: the work folder must not be below %s (the engine never syncs there)" % prefix)
            return 1

    # ctest ends a test that runs too long with SIGTERM: unmount the drive on the way out.
    signal.signal(signal.SIGTERM, lambda number, frame: sys.exit("checker: terminated"))
    checker = Checker(arguments)
    os.makedirs(checker.work, exist_ok=True)
    os.chmod(checker.work, 0o755)
    drive = Drive(arguments.fs, 96, tempfile.gettempdir())
    checker.drive = drive
    ok, output = drive.create()
    if not ok:
        log("FAIL: cannot format the %s image: %s" % (arguments.fs, output))
        return 1
    ok, output = drive.mount()
    if not ok:
        # The machine can make these drives (checked above), so a mount that fails is a fault.
        log("FAIL: cannot mount the %s image: %s" % (arguments.fs, output))
        drive.close()
        return 1
    checker.precision = drive.date_precision()
    log("checker: %s drive mounted in %.1f s; dates compared to %d ns" % (arguments.fs, drive.mount_seconds,
                                                                          checker.precision))

    known = known_failures(os.path.join(os.path.dirname(os.path.abspath(__file__)), "known-failures.txt"))
    base = seed if seed is not None else arguments.base_seed
    if base is None:
        base = random.SystemRandom().randrange(1, 2 ** 31)
    if seed is None:
        log("checker: seeds from %d (replay one with PELLMERE_CHECKER_SEED=<seed>)" % base)
    failing = []
    count = 0
    start = time.monotonic()
    try:
        while True:
            scenario_seed = base + count
            count += 1
            scenario = Scenario(checker, scenario_seed)
            try:
                passed = scenario.run()
            except Failure as error:
                scenario.fail(str(error))
                passed = False
            log("checker: %s seed=%d %s [%s]" % (arguments.fs, scenario_seed, "ok" if passed else "FAILED",
                                                 ",".join(sorted(scenario.features))))
            if passed or not arguments.keep:
                shutil.rmtree(scenario.home, ignore_errors=True)
                for name in os.listdir(checker.work):
                    if name.startswith(b"seed-%d-" % scenario_seed):
                        os.unlink(os.path.join(checker.work, name))
            if not passed and seed is None and scenario_seed in known.get(arguments.fs, {}):
                log("checker: %s seed=%d is a known open fault, not counted: %s"
                    % (arguments.fs, scenario_seed, known[arguments.fs][scenario_seed]))
            elif not passed:
                failing.append(scenario_seed)
            if seed is not None or time.monotonic() - start >= arguments.seconds:
                break
            if not drive.is_mounted():
                log("FAIL: the drive is no longer mounted")
                failing.append(scenario_seed)
                break
    finally:
        drive.close()
    log("checker: %s: %d scenarios in %.0f s, %d failed" % (arguments.fs, count, time.monotonic() - start,
                                                             len(failing)))
    for failed in failing:
        log("checker: FAILING SEED %s %d  (replay: PELLMERE_CHECKER_SEED=%d %s --fs %s ...)" % (
            arguments.fs, failed, failed, os.path.basename(sys.argv[0]), arguments.fs))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main())
