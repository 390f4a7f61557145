#!/usr/bin/env python3
"""Measures `pellmere sync` against rsync on the same drive image in one run.

The drive is a loop-mounted ext4 image, or with --fs an exFAT (exfat-fuse), NTFS (ntfs-3g) or
FAT32 (guestmount) image; the reference is `rsync -a` on ext4 and `rsync -rt
--modify-window=N` on the others (N: the drive's time precision, 1 s or 2 s for FAT32), which
is what people run for drives that keep neither owner nor mode.

Generates a deterministic tree on the local disk (at scale 1: 20,000 files in 2,000 folders,
sizes 0-4 MiB, 1 GiB in all, media extensions that no device filter refuses), then times

  1. the first sync (everything new),
  2. the second sync (nothing changed),
  3. a third sync after 1% of the files got a new modification time,

for `pellmere sync --device-filter 0 --item TREE` and for `rsync ... TREE/ DRIVE/rsync-copy/`,
making the drive's driver write out what it holds and dropping the page cache before every run,
and prints the ratios (ours / rsync; below 1 is faster). In the last round it measures the
floors of the three runs on that drive, what the work takes whatever tool does it: the tree's
bytes read and written at the pace of one large file, both trees' attributes read by eight
`find`s side by side, and a changed file written in place (as rsync does) or staged in a
temporary folder (as Pellmere does). Finally it measures with /usr/bin/time -v the peak resident memory of the first sync
of a tree of 100,000 tiny files and of a sync after all of them changed (--memory-only: just
these two).

  sudo bench/sync/sync_bench.py [--fs ext4|exfat|ntfs|fat32] [--pellmere PATH] [--scale F] [--runs N]
                                [--memory-files N] [--memory-only] [--no-floors] [--work DIR]

Needs root (the drive image is loop-mounted), rsync and /usr/bin/time. Prints figures; the
exit status only says whether the measurement itself worked.
"""

import argparse
import os
import random
import signal
import statistics
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from loopdrive import FILE_SYSTEMS, Drive, log, private_home_env, run  # noqa: E402

MIB = 1024 * 1024
# Targets of the three ratios (first, second, third) per drive file system.
TARGETS = {"ext4": (0.7, 0.5, 0.6), "exfat": (0.9, 0.7, 0.7), "ntfs": (0.9, 0.7, 0.7), "fat32": (1.0, 0.8, 0.8)}
# Extensions of the unlimited lists, so that every file is a candidate for the copy.
EXTENSIONS = ["mp3", "m4a", "jpg", "png", "mov", "mp4", "pdf", "txt"]


def find_pellmere(explicit):
    if explicit:
        return os.path.abspath(explicit)
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    candidates = [os.path.join(os.path.dirname(root), d, "src/agent/app/pellmere")
                  for d in ("build-bench", "build-release", "build")]
    candidates.append(os.path.join(root, "build/src/agent/app/pellmere"))
    for candidate in candidates:
        if os.access(candidate, os.X_OK):
            return candidate
    found = shutil.which("pellmere")
    if found:
        return found
    sys.exit("sync_bench: no pellmere binary found; build one (Release) and pass --pellmere PATH")


def file_sizes(count, total, rng):
    """Sizes from 0 to 4 MiB adding up to `total`: 1% large files (1-4 MiB), the rest small."""
    large = max(1, count // 100)
    sizes = [rng.randint(1 * MIB, 4 * MIB) for _ in range(large)]
    remaining = max(0, total - sum(sizes))
    small_count = count - large
    mean = remaining // max(1, small_count)
    sizes += [rng.randint(0, 2 * mean) for _ in range(small_count)]
    # Bring the sum to exactly `total` by adjusting small files, staying inside 0..4 MiB.
    difference = total - sum(sizes)
    index = large
    while difference != 0 and small_count > 0:
        step = max(-sizes[index], min(4 * MIB - sizes[index], difference))
        sizes[index] += step
        difference -= step
        index = large + (index - large + 1) % small_count
        if index == large and step == 0:
            break
    rng.shuffle(sizes)
    return sizes


def generate_tree(root, files, folders, total_bytes, seed):
    rng = random.Random(seed)
    block = random.Random(seed + 1).randbytes(8 * MIB)
    sizes = file_sizes(files, total_bytes, rng)
    folder_paths = []
    for f in range(folders):
        # Two levels: 1 top folder for every 20 folders, like albums under artists.
        path = os.path.join(root, "group%03d" % (f // 20), "folder%04d" % f)
        os.makedirs(path, exist_ok=True)
        folder_paths.append(path)
    paths = []
    for i, size in enumerate(sizes):
        folder = folder_paths[i % folders]
        name = "file%06d.%s" % (i, EXTENSIONS[i % len(EXTENSIONS)])
        path = os.path.join(folder, name)
        offset = (i * 7919) % (len(block) - 4 * MIB)
        with open(path, "wb") as out:
            out.write(block[offset:offset + size])
        paths.append(path)
    # Fixed times so that a re-generated tree is the same tree.
    stamp = 1_600_000_000
    for path in paths:
        os.utime(path, (stamp, stamp))
    return paths


def drop_caches():
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as control:
            control.write("3\n")
        return True
    except OSError:
        return False


def settle(mount_point):
    """Makes the drive's driver write out what it still holds, untimed, so that no run pays for
    the one before it. A FUSE driver keeps allocation tables and changed entries in its own
    memory, which neither sync(2) nor dropping the page cache reaches: exfat-fuse writes them all
    at the next fsync of any file, so a tool that syncs its own files (Pellmere fsyncs its drive
    record) would pay for everything the tool before it left unwritten."""
    marker = os.path.join(mount_point, ".bench-settle")
    fd = os.open(marker, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


def parse_time_v(stderr_text):
    peak_kib = None
    for line in stderr_text.splitlines():
        line = line.strip()
        if line.startswith("Maximum resident set size (kbytes):"):
            peak_kib = int(line.split(":")[1])
    return peak_kib


def timed(command, env, log_path):
    """Runs `command` under /usr/bin/time -v; returns (wall seconds, peak RSS KiB, exit code)."""
    with open(log_path, "ab") as out:
        out.write(("\n$ %s\n" % " ".join(command)).encode())
        out.flush()
        start = time.monotonic()
        completed = subprocess.run(["/usr/bin/time", "-v"] + command, env=env, stdout=out,
                                   stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        elapsed = time.monotonic() - start
        out.write(completed.stderr)
    return elapsed, parse_time_v(completed.stderr.decode(errors="replace")), completed.returncode


def scratch_env(work):
    return private_home_env(os.path.join(work, "home"), "offscreen")


def count_files(root):
    return sum(len(names) for _, _, names in os.walk(root))


def cold_seconds(commands, mount_point):
    """Wall time of `commands` run side by side from a cold page cache, output discarded."""
    settle(mount_point)
    drop_caches()
    start = time.monotonic()
    running = [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for c in commands]
    for process in running:
        process.wait()
    return time.monotonic() - start


def write_pattern_ms(mount_point, count, size, staged):
    """Milliseconds per file for writing `count` files of `size` bytes into existing folders of
    the drive, each in a folder of its own, with the folders already looked up (as after a
    sync's walk) and the file data not in the cache. In place: a temporary name in the file's
    own folder, renamed over it (what rsync does). Staged: the file is written below a temporary
    folder that mirrors its folders (made for it, removed afterwards) and then moved into place,
    which keeps a half-written file out of the synced tree when the drive is pulled (what
    Pellmere does)."""
    base = os.path.join(mount_point, ".bench-pattern")
    shutil.rmtree(base, ignore_errors=True)
    folders = [os.path.join("g%03d" % (i // 10), "f%04d" % i) for i in range(count)]
    for relative in folders:
        os.makedirs(os.path.join(base, "final", relative), exist_ok=True)
    data = os.urandom(size)
    settle(mount_point)
    drop_caches()
    for relative in folders:
        os.stat(os.path.join(base, "final", relative))
    start = time.monotonic()
    for relative in folders:
        final = os.path.join(base, "final", relative, "file")
        if staged:
            folder = os.path.join(base, "temp", relative)
            os.makedirs(folder, exist_ok=True)
            temporary = os.path.join(folder, "file")
        else:
            temporary = os.path.join(base, "final", relative, ".file.tmp")
        with open(temporary, "wb") as out:
            out.write(data)
        os.utime(temporary, (1_600_000_000, 1_600_000_000))
        if not staged:
            os.rename(temporary, final)
    if staged:
        for relative in folders:
            os.rename(os.path.join(base, "temp", relative, "file"), os.path.join(base, "final", relative, "file"))
        shutil.rmtree(os.path.join(base, "temp"))
    elapsed = time.monotonic() - start
    shutil.rmtree(base, ignore_errors=True)
    return elapsed * 1000 / count


def split_readers(root, readers):
    """`readers` lists of the folders directly below root, to be read side by side."""
    folders = sorted(os.path.join(root, name) for name in os.listdir(root))
    return [chunk for chunk in (folders[i::readers] for i in range(readers)) if chunk]


def measure_floors(tree, mount_point, total, touched, work):
    """What the work itself takes on this drive, whatever tool does it, each from a cold cache:

    - attributes: both trees' attributes read by eight `find`s side by side (four per tree, the
      parallelism Pellmere's walk has), the least any comparison must ask;
    - data: the tree's bytes at the pace one large file is read from the computer's disk and
      written to the drive (`dd bs=1M`), the slower of the two;
    - write patterns: one changed file written in place (rsync) or staged (Pellmere).

    Logs them all; returns the floors of the three syncs in seconds (first: data; second: the
    drive's attributes read by one reader; third: that plus the touched files' bytes)."""
    drive_copy = os.path.join(mount_point, "rsync-copy")
    walks = [["find"] + chunk + ["-printf", "%s %T@\n"]
             for side in (tree, drive_copy) for chunk in split_readers(side, 4)]
    attributes = cold_seconds(walks, mount_point)
    drive_alone = cold_seconds([c for c in walks if c[1].startswith(drive_copy)], mount_point)
    # One large file on the computer's disk, read from a cold cache and written to the drive:
    # the two disks' own pace, which no copy of many files beats.
    block = min(256 * MIB, max(16 * MIB, total // 4))
    source = os.path.join(work, "floor-source.bin")
    with open(source, "wb") as out:
        out.write(os.urandom(block))
    read_rate = block / cold_seconds([["dd", "if=" + source, "of=/dev/null", "bs=1M"]], mount_point)
    target = os.path.join(mount_point, ".bench-floor.bin")
    rate = block / cold_seconds([["dd", "if=" + source, "of=" + target, "bs=1M"]], mount_point)
    os.remove(target)
    os.remove(source)
    read_seconds = total / read_rate
    in_place = write_pattern_ms(mount_point, touched, 32 * 1024, staged=False)
    staged = write_pattern_ms(mount_point, touched, 32 * 1024, staged=True)
    log("  floors, cold cache: both trees' attributes %.2f s (the drive's alone %.2f s); one large file read "
        "at %.0f MiB/s, written to the drive at %.0f MiB/s; a changed file written in place %.1f ms, staged %.1f ms"
        % (attributes, drive_alone, read_rate / MIB, rate / MIB, in_place, staged))
    # Only what no program can go below counts as a floor: the bytes at the disks' pace, and the
    # drive answering one lookup per entry (one reader; a FUSE driver serves one request at a
    # time). Eight finds over both trees and the write patterns are slower than Pellmere's
    # own walk and writes on some drives: references that locate the time, not floors.
    return {"first": max(read_seconds, total / rate), "second": drive_alone,
            "third": drive_alone + total / 100 / rate}


def measure_memory(pellmere, files, work, env, run_log, drives):
    """Peak resident memory of the first sync of `files` tiny files in files / 100 folders, and
    of a sync after every one of them got a new modification time; False when a run failed."""
    small = os.path.join(work, "small-tree")
    small_folders = max(1, files // 100)
    log("generating %d tiny files in %d folders..." % (files, small_folders))
    rng = random.Random(7)
    stamp = 1_600_000_000
    for f in range(small_folders):
        folder = os.path.join(small, "g%03d" % (f // 50), "f%05d" % f)
        os.makedirs(folder, exist_ok=True)
    for i in range(files):
        path = os.path.join(small, "g%03d" % ((i % small_folders) // 50), "f%05d" % (i % small_folders),
                            "tiny%06d.%s" % (i, EXTENSIONS[i % len(EXTENSIONS)]))
        with open(path, "wb") as out:
            out.write(b"x" * rng.randint(0, 64))
        os.utime(path, (stamp, stamp))
    memory_drive = Drive(os.path.join(work, "memory.img"), os.path.join(work, "memory-drive"),
                         max(1024 * MIB, files * 12 * 1024),
                         inodes=files * 3 + 65536)
    drives.append(memory_drive)
    command = [pellmere, "sync", "--drive", memory_drive.mount_point, "--device-filter", "0", "--item", small]
    drop_caches()
    seconds, peak, status = timed(command, env, run_log)
    if status != 0:
        log("  memory run: pellmere exit %d (see %s)" % (status, run_log))
        return False
    log("  first sync of %d files: %.2f s, peak resident memory %.1f MiB (target <= 32)"
        % (files, seconds, peak / 1024))
    # A folder missing on the drive is copied whole, so the first sync records few
    # entries; a sync where every file changed records one entry per file.
    stamp = time.time()
    for folder, _, names in os.walk(small):
        for name in names:
            os.utime(os.path.join(folder, name), (stamp, stamp))
    drop_caches()
    seconds, peak, status = timed(command, env, run_log)
    if status != 0:
        log("  memory run: pellmere exit %d (see %s)" % (status, run_log))
        return False
    log("  sync after touching all %d files: %.2f s, peak resident memory %.1f MiB (target <= 48)"
        % (files, seconds, peak / 1024))
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--fs", choices=sorted(FILE_SYSTEMS), default="ext4",
                        help="file system of the drive image (default ext4); the memory part always uses ext4")
    parser.add_argument("--pellmere", help="the pellmere binary (default: a build dir beside the source)")
    parser.add_argument("--scale", type=float, default=1.0,
                        help="fraction of the 20,000-file / 2,000-folder / 1 GiB tree (default 1)")
    parser.add_argument("--memory-files", type=int, default=100_000,
                        help="files of the memory tree (default 100000; 0 skips the memory run)")
    parser.add_argument("--memory-only", action="store_true",
                        help="only the memory runs: no timed tree, no rsync")
    parser.add_argument("--runs", type=int, default=3,
                        help="rounds of the three syncs, each on a fresh drive; ratios are medians (default 3)")
    parser.add_argument("--work", help="scratch folder on the local disk (default: a new one in /var/tmp)")
    parser.add_argument("--no-floors", action="store_true",
                        help="skip measuring what the work itself takes on the drive (attribute walks, one large "
                             "file, the two ways of writing a changed file)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    args = parser.parse_args()
    # A kill or hang-up still unmounts and detaches the drive images (the finally below).
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: sys.exit(130))

    if os.geteuid() != 0:
        sys.exit("sync_bench: needs root to loop-mount the ext4 drive image (run it with sudo)")
    tools = {"ext4": ["mkfs.ext4", "losetup", "mount"], "exfat": ["mkfs.exfat", "losetup", "mount.exfat-fuse"],
             "ntfs": ["mkntfs", "losetup", "ntfs-3g"], "fat32": ["mkfs.vfat", "guestmount", "guestunmount"]}
    for tool in ["rsync", "mkfs.ext4", "losetup", "mount"] + tools[args.fs]:
        if not shutil.which(tool):
            sys.exit("sync_bench: %s is missing (scripts/bootstrap-debian.sh installs it)" % tool)
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("sync_bench: /usr/bin/time is missing (apt-get install time)")
    pellmere = find_pellmere(args.pellmere)

    files = max(10, int(20_000 * args.scale))
    folders = max(1, int(2_000 * args.scale))
    total = int(1024 * MIB * args.scale)
    work = args.work or tempfile.mkdtemp(prefix="pellmere-sync-bench-", dir="/var/tmp")
    os.makedirs(work, exist_ok=True)
    run_log = os.path.join(work, "runs.log")
    env = scratch_env(work)
    drives = []

    def cleanup():
        for drive in drives:
            drive.close()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    try:
        log("pellmere: %s" % pellmere)
        log("scratch:  %s (run output in runs.log%s)" % (work, ", kept" if args.keep else ", removed at exit"))
        log("load:     %s" % open("/proc/loadavg").read().strip())
        if args.memory_only:
            return 0 if measure_memory(pellmere, max(1, args.memory_files), work, env, run_log, drives) else 1
        tree = os.path.join(work, "tree")
        log("generating %d files in %d folders, %.0f MiB (scale %g)..." % (files, folders, total / MIB, args.scale))
        paths = generate_tree(tree, files, folders, total, seed=20061)
        # Room for both copies plus the temporary folder of a sync, sparse on the local disk.
        image_bytes = max(256 * MIB, int(total * 2.6) + 512 * MIB)
        image = os.path.join(work, "drive.img")
        mount_point = os.path.join(work, "drive")
        ours = [pellmere, "sync", "--drive", mount_point, "--device-filter", "0", "--item", tree]
        theirs = ["rsync"] + FILE_SYSTEMS[args.fs]["rsync"] + [tree + "/", os.path.join(mount_point, "rsync-copy") + "/"]
        log("drive:    %s, reference %s" % (args.fs, " ".join(theirs[:-2])))

        # Start-up alone, from a cold page cache: what every run pays before its first file.
        drop_caches()
        startup_ours, _, _ = timed([pellmere, "sync", "--help"], env, run_log)
        drop_caches()
        startup_theirs, _, _ = timed(["rsync", "--version"], env, run_log)
        log("  start-up, cold cache:      pellmere %8.2f s  rsync %8.2f s" % (startup_ours, startup_theirs))

        cache_dropped = True
        phases = ("first (everything new)", "second (nothing changed)", "third (1% touched)")
        ratios = {phase: [] for phase in phases}
        rsync_seconds = {phase: [] for phase in phases}
        floors = None
        for round_number in range(args.runs):
            # A fresh drive every round, so every first sync finds it empty.
            drive = Drive(image, mount_point, image_bytes, inodes=max(65536, files * 4 + folders * 4), fs=args.fs)
            drives.append(drive)
            for phase in phases:
                if phase.startswith("third"):
                    # The present time, as an edit would leave it: a file dated before the last
                    # sync counts as unchanged since then and is rightly passed over.
                    stamp = time.time()
                    for path in paths[::100]:
                        os.utime(path, (stamp, stamp))
                settle(mount_point)
                cache_dropped &= drop_caches()
                our_seconds, our_peak, our_status = timed(ours, env, run_log)
                settle(mount_point)
                cache_dropped &= drop_caches()
                their_seconds, _, their_status = timed(theirs, env, run_log)
                if our_status != 0 or their_status != 0:
                    log("  %s: pellmere exit %d, rsync exit %d (see %s)" % (phase, our_status, their_status, run_log))
                    return 1
                ratios[phase].append(our_seconds / their_seconds)
                rsync_seconds[phase].append(their_seconds)
                log("  %-26s pellmere %8.2f s  rsync %8.2f s  ratio %.2f  (pellmere peak %.0f MiB)"
                    % (phase, our_seconds, their_seconds, our_seconds / their_seconds, our_peak / 1024))
            # Both tools must really have copied the touched files (an item outside the home
            # folder keeps its absolute path on the drive).
            probe = paths[0]
            ours_copy = os.path.join(mount_point, probe.lstrip("/"))
            theirs_copy = os.path.join(mount_point, "rsync-copy", os.path.relpath(probe, tree))
            for copy in (ours_copy, theirs_copy):
                if abs(os.stat(copy).st_mtime - os.stat(probe).st_mtime) > max(1, FILE_SYSTEMS[args.fs]["precision"]):
                    log("  the touched file %s was not copied again to %s" % (probe, copy))
                    return 1
            copied = [p for p in os.listdir(mount_point) if p not in ("rsync-copy", "lost+found")
                      and not p.startswith(".")]
            synced = sum(count_files(os.path.join(mount_point, p)) for p in copied)
            log("  files on the drive: pellmere %d, rsync %d (tree %d)"
                % (synced, count_files(os.path.join(mount_point, "rsync-copy")), files))
            if round_number == args.runs - 1 and not args.no_floors:
                floors = measure_floors(tree, mount_point, total, len(paths[::100]), work)
            drive.close()
            drives.remove(drive)
            os.remove(image)
        if not cache_dropped:
            log("  note: the page cache could not be dropped between runs")

        if args.memory_files > 0 and not measure_memory(pellmere, args.memory_files, work, env, run_log, drives):
            return 1

        log("summary on %s (ours / rsync; targets: first <= %.1f, second <= %.1f, third <= %.1f):"
            % ((args.fs,) + TARGETS[args.fs]))
        for index, phase in enumerate(phases):
            floor = ""
            if floors:
                key = ("first", "second", "third")[index]
                floor = "  (floor %.2f)" % (floors[key] / statistics.median(rsync_seconds[phase]))
            log("  %-26s median %.2f of %s%s" % (phase, statistics.median(ratios[phase]),
                                                   ", ".join("%.2f" % r for r in ratios[phase]), floor))
        if floors:
            log("  floors over rsync's median: first, the tree's bytes read or written at one large file's "
                "pace; second, the drive's attributes read by one find; third, that plus the touched files' bytes")
        log("load:     %s" % open("/proc/loadavg").read().strip())
        return 0
    finally:
        cleanup()


if __name__ == "__main__":
    sys.exit(main())
