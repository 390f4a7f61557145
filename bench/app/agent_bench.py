#!/usr/bin/env python3
"""Measures the running agent's continuous sync: what it costs while idle and how fast a change
reaches the drive, against `rsync -a` for the same change in the same run.

Builds a deterministic tree of small files under a private $HOME/Music (default 100,000 files in
10,000 folders), loop-mounts a fresh ext4 image at SCRATCH/volumes/Drive, makes the first copy
with `pellmere sync`, starts the agent (`pellmere --foreground --debug`) on a private session bus
with PELLMERE_VOLUME_ROOTS=SCRATCH/volumes, turns continuous sync on with `pellmerectl set`, waits
for the sync that follows, and then measures

  1. idle cost: resident memory (VmRSS, VmHWM) and CPU seconds (utime + stime) of the agent over
     30 s in which nothing changes;
  2. change-to-drive latency: one file deep in the tree gets new content; the time until the new
     content is on the drive (polled every 50 ms), minus the agent's 10 s quiet period, is the
     job time (median of --runs);
  3. the reference: `rsync -a Music/ DRIVE/rsync-copy/` after the same kind of change (after a
     first full rsync), with the agent stopped so that the two never run at the same time.

  sudo bench/app/agent_bench.py [--files N] [--runs N] [--keep] [--pellmere PATH] [--pellmerectl PATH]

Needs root (loop mount), rsync and dbus-daemon. Prints figures; the exit status only says whether
the measurement itself worked.
"""

import argparse
import os
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from loopdrive import Drive, log, private_home_env, run  # noqa: E402

MIB = 1024 * 1024
QUIET_PERIOD = 10.0  # the agent waits this long after the last change before it syncs
IDLE_WINDOW = 30.0
POLL = 0.05
LOG_STAMP = re.compile(r"^(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d) ")


def find_binary(explicit, relative, name):
    if explicit:
        return os.path.abspath(explicit)
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    for build in ("build-agentbench", "build-bench", "build-release", "build"):
        candidate = os.path.join(os.path.dirname(root), build, relative)
        if os.access(candidate, os.X_OK):
            return candidate
    candidate = os.path.join(root, "build", relative)
    if os.access(candidate, os.X_OK):
        return candidate
    found = shutil.which(name)
    if found:
        return found
    sys.exit("agent_bench: no %s binary found; build one (Release) and pass --%s PATH" % (name, name))


def wait_until(condition, timeout, what):
    """Polls `condition` every 50 ms; raises when it does not hold within `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(POLL)
    raise RuntimeError("timed out after %.0f s waiting for %s" % (timeout, what))


def private_env(scratch, volumes):
    env = private_home_env(os.path.join(scratch, "home"), "offscreen")
    env["PELLMERE_VOLUME_ROOTS"] = volumes
    return env


def generate_tree(music, files, folders):
    """`files` small files (0-2 KiB) in `folders` album folders under 100 artist folders, all
    with one fixed date, so that the same arguments give the same tree."""
    artists = max(1, min(100, folders))
    block = bytes((i * 131 + 7) % 256 for i in range(4096))
    album_paths = []
    for f in range(folders):
        path = os.path.join(music, "artist%03d" % (f % artists), "album%05d" % f)
        os.makedirs(path, exist_ok=True)
        album_paths.append(path)
    stamp = 1_600_000_000
    paths = []
    for i in range(files):
        path = os.path.join(album_paths[i % folders], "track%06d.mp3" % i)
        size = (i * 7919) % 2048
        with open(path, "wb") as out:
            out.write(block[i % 1024:i % 1024 + size])
        os.utime(path, (stamp, stamp))
        paths.append(path)
    return paths


class SessionBus:
    """A private `dbus-daemon --session`, ended by close()."""

    def __init__(self, env, error_path):
        # Its complaints (as root it cannot raise its fd limit) go to a file, not the table.
        with open(error_path, "wb") as errors:
            self.process = subprocess.Popen(["dbus-daemon", "--session", "--print-address", "--nofork"], env=env,
                                            stdout=subprocess.PIPE, stderr=errors, stdin=subprocess.DEVNULL,
                                            text=True)
        self.address = self.process.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon printed no address")

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class AgentLog:
    """Follows the agent's log in a thread. The agent writes the file whole (a new file renamed
    over the old one) and starts it afresh past its size limit, so each new version is read
    whole and what follows the previously seen text is the new part; a version that does not
    begin with that text is new from its start. Keeps the lines the measurement needs: stamped
    lines (one per second of plain "-" lines is enough) and job markers."""

    def __init__(self, path):
        self.path = path
        self.lines = []
        self.bytes = 0
        self.restarts = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.seen = self.read() or b""  # what the file holds before the agent starts
        self.last_plain_stamp = None
        self.thread = threading.Thread(target=self.follow, daemon=True)
        self.thread.start()

    def read(self):
        try:
            with open(self.path, "rb") as source:
                return source.read()
        except OSError:
            return None

    def follow(self):
        while not self.stopping.wait(POLL):
            data = self.read()
            if data is None or data == self.seen:
                continue
            tail = self.seen[-4096:]
            if len(data) >= len(self.seen) and data[len(self.seen) - len(tail):len(self.seen)] == tail:
                new = data[len(self.seen):]
            else:
                new = data  # started afresh: what was written before the restart is lost to us
                with self.lock:
                    self.restarts += 1
            end = new.rfind(b"\n") + 1
            if end == 0:
                continue
            self.seen = data[:len(data) - len(new) + end]
            kept = []
            for raw in new[:end].split(b"\n"):
                line = raw.decode("utf-8", errors="replace")
                match = LOG_STAMP.match(line)
                if match:
                    if line[match.end():].strip() == "-":
                        if match.group(1) == self.last_plain_stamp:
                            continue
                        self.last_plain_stamp = match.group(1)
                    kept.append(line)
                elif "---" in line or "-updateFSEventSettings" in line:
                    kept.append(line)
            with self.lock:
                self.bytes += end
                self.lines.extend(kept)

    def close(self):
        self.stopping.set()
        self.thread.join()

    def mark(self):
        with self.lock:
            return len(self.lines), self.bytes, self.restarts

    def since(self, mark):
        with self.lock:
            return self.lines[mark[0]:]

    def bytes_since(self, mark):
        """Log bytes added since `mark`, or None when the agent started its log afresh meanwhile."""
        with self.lock:
            return self.bytes - mark[1] if self.restarts == mark[2] else None

    def lines_with(self, text, mark=(0, 0, 0)):
        return [line for line in self.since(mark) if text in line]


def mib(count):
    return "n/a" if count is None else "%.1f" % (count / MIB)


def log_time(line):
    match = LOG_STAMP.match(line)
    return time.mktime(time.strptime(match.group(1), "%Y/%m/%d %H:%M:%S")) if match else None


def job_stamps(lines, end_marker):
    """(first stamp, last stamp before `end_marker`) of the log lines of one job. Debug lines
    carry no stamp, so the end is the last stamped line before the marker; whole seconds."""
    first = last = None
    for line in lines:
        if end_marker in line:
            return first, last
        stamp = log_time(line)
        if stamp is not None:
            first = stamp if first is None else first
            last = stamp
    return first, last


def proc_figures(pid):
    """(VmRSS KiB, VmHWM KiB, CPU seconds so far) of a running process."""
    rss = hwm = None
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
            elif line.startswith("VmHWM:"):
                hwm = int(line.split()[1])
    with open("/proc/%d/stat" % pid) as stat:
        # The command name may hold spaces; the fields after its closing parenthesis are fixed.
        fields = stat.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime, stime
    return rss, hwm, ticks / os.sysconf("SC_CLK_TCK")


def change_file(path, run_number):
    """New content of a new length and the present time as modification time, as an edit leaves it."""
    content = ("changed in run %d at %.6f\n" % (run_number, time.time())).encode() * (run_number + 2)
    with open(path, "wb") as out:
        out.write(content)
    return content


def read_bytes(path):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError:
        return None


def find_copy_root(mount_point, music, probe):
    """The folder on the drive that holds the agent's copy of `music` (the layout is the program's)."""
    relative = os.path.relpath(probe, music)
    for folder, children, _ in os.walk(mount_point):
        if folder == mount_point:
            children[:] = [c for c in children if c not in ("rsync-copy", "lost+found")]
        if os.path.basename(folder) == os.path.basename(music) and os.path.exists(os.path.join(folder, relative)):
            return folder
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", type=int, default=100_000, help="files in the tree (default 100000)")
    parser.add_argument("--runs", type=int, default=3, help="changes measured, median reported (default 3)")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder in /var/tmp")
    parser.add_argument("--pellmere", help="the pellmere binary (default: a build dir beside the source)")
    parser.add_argument("--pellmerectl", help="the pellmerectl binary (default: a build dir beside the source)")
    args = parser.parse_args()
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_: sys.exit(130))

    if os.geteuid() != 0:
        log("agent_bench: needs root to loop-mount the ext4 drive image (run it with sudo); nothing measured")
        return 0
    for tool in ("rsync", "mkfs.ext4", "losetup", "mount", "dbus-daemon"):
        if not shutil.which(tool):
            sys.exit("agent_bench: %s is missing (scripts/bootstrap-debian.sh installs it)" % tool)
    pellmere = find_binary(args.pellmere, "src/agent/app/pellmere", "pellmere")
    pellmerectl = find_binary(args.pellmerectl, "tools/pellmerectl/pellmerectl", "pellmerectl")

    files = max(10, args.files)
    folders = max(1, files // 10)
    scratch = tempfile.mkdtemp(prefix="pellmere-agent-bench-", dir="/var/tmp")
    volumes = os.path.join(scratch, "volumes")
    mount_point = os.path.join(volumes, "Drive")
    os.makedirs(volumes)
    env = private_env(scratch, volumes)
    music = os.path.join(env["HOME"], "Music")
    rsync_copy = os.path.join(mount_point, "rsync-copy")
    agent_output = os.path.join(scratch, "agent.out")
    bus = drive = agent = agent_log = None

    def stop_agent():
        if agent is None or agent.poll() is not None:
            return
        agent.terminate()
        try:
            agent.wait(30)
        except subprocess.TimeoutExpired:
            agent.kill()
            agent.wait()

    try:
        log("pellmere:    %s" % pellmere)
        log("pellmerectl: %s" % pellmerectl)
        log("scratch:     %s (%s)" % (scratch, "kept" if args.keep else "removed at exit"))
        log("load:        %s" % open("/proc/loadavg").read().strip())
        log("generating %d files in %d folders under %s..." % (files, folders, music))
        started = time.monotonic()
        paths = generate_tree(music, files, folders)
        log("  %.1f s" % (time.monotonic() - started))
        # Three copies of 4 KiB blocks (ours, its temporary folder, rsync's) with room to spare;
        # the image is sparse on the local disk.
        drive = Drive(os.path.join(scratch, "drive.img"), mount_point,
                      max(512 * MIB, files * 16 * 1024 + folders * 16 * 1024 + 256 * MIB),
                      inodes=files * 4 + folders * 4 + 65536)

        bus = SessionBus(env, os.path.join(scratch, "dbus.err"))
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.address

        # The first copy and the drive's configuration (this user takes part, sync list ~/Music).
        started = time.monotonic()
        with open(os.path.join(scratch, "first-sync.out"), "wb") as out:
            run([pellmere, "sync", "--drive", mount_point, "--item", "~/Music", "--device-filter", "0"],
                env=env, stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        log("first copy with pellmere sync: %.1f s" % (time.monotonic() - started))
        started = time.monotonic()
        run(["rsync", "-a", music + "/", rsync_copy + "/"], env=env)
        log("first copy with rsync -a:      %.1f s" % (time.monotonic() - started))
        probe = paths[-1 - files // 2]
        copy_root = find_copy_root(mount_point, music, probe)
        if copy_root is None:
            log("the first copy of %s is not on the drive" % probe)
            return 1
        drive_probe = os.path.join(copy_root, os.path.relpath(probe, music))
        rsync_probe = os.path.join(rsync_copy, os.path.relpath(probe, music))
        log("changed file: %s\n  agent's copy: %s" % (probe, drive_probe))

        agent_log = AgentLog(os.path.join(env["XDG_STATE_HOME"], "pellmere", "Pellmere.log"))
        with open(agent_output, "wb") as out:
            agent = subprocess.Popen([pellmere, "--foreground", "--debug"], env=env, stdout=out,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

        def agent_alive():
            if agent.poll() is not None:
                raise RuntimeError("the agent ended with status %d (see %s)" % (agent.returncode, agent_output))
            return True

        # The agent announces the mounted drive on start; `set` succeeds once it has a controller.
        # The list is set through the agent first: a drive syncs by itself only with the list
        # chosen on this computer.
        def continuous_on():
            agent_alive()
            return all(subprocess.run([pellmerectl, "set", mount_point] + setting, env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
                       for setting in (["sync-list", music], ["continuous", "on"]))
        started = time.monotonic()
        wait_until(continuous_on, 60, "the agent to take the continuous setting")
        # Turning continuous sync on syncs the whole list once, then the folders are watched.
        wait_until(lambda: agent_alive() and agent_log.lines_with("completed successfully"), 1800,
                   "the agent's first sync")
        wait_until(lambda: agent_alive() and any("Music" in line for line in agent_log.lines_with(
            "-updateFSEventSettings: watching")), 300, "the agent to watch ~/Music")
        wait_until(lambda: agent_alive() and agent_log.lines_with("--- done activate-continuous-sync ---"), 300,
                   "the end of the agent's first job")
        log("agent's first sync (nothing new) and watch set-up: %.1f s" % (time.monotonic() - started))

        # 1. Idle cost.
        idle_mark = agent_log.mark()
        rss0, hwm0, cpu0 = proc_figures(agent.pid)
        time.sleep(IDLE_WINDOW)
        agent_alive()
        rss1, hwm1, cpu1 = proc_figures(agent.pid)
        idle_log_bytes = agent_log.bytes_since(idle_mark)
        idle_cpu = cpu1 - cpu0
        log("idle %.0f s: VmRSS %.1f -> %.1f MiB, VmHWM %.1f MiB, CPU %.2f s, log grew %s bytes"
            % (IDLE_WINDOW, rss0 / 1024, rss1 / 1024, hwm1 / 1024, idle_cpu, idle_log_bytes))

        # 2. Change-to-drive latency.
        latencies, log_jobs, log_starts, cpu_per_change, log_bytes = [], [], [], [], []
        for run_number in range(args.runs):
            job_mark = agent_log.mark()
            cpu_before = proc_figures(agent.pid)[2]
            wall_changed = time.time()
            content = change_file(probe, run_number)
            changed = time.monotonic()
            wait_until(lambda: agent_alive() and read_bytes(drive_probe) == content, 1800,
                       "the change to reach the drive")
            latency = time.monotonic() - changed
            wait_until(lambda: agent_alive() and agent_log.lines_with("--- done continuous-sync ---", job_mark), 1800,
                       "the end of the continuous job")
            first_at, done_at = job_stamps(agent_log.since(job_mark), "--- done continuous-sync ---")
            # Whole seconds: the job's first and last stamped lines.
            log_job = done_at - first_at if first_at is not None and done_at is not None else float("nan")
            cpu_used = proc_figures(agent.pid)[2] - cpu_before
            latencies.append(latency)
            log_jobs.append(log_job)
            log_starts.append(first_at - int(wall_changed) if first_at is not None else float("nan"))
            cpu_per_change.append(cpu_used)
            log_bytes.append(agent_log.bytes_since(job_mark))
            log("  change %d: on the drive after %.2f s (job %.2f s after the quiet period); log: job from "
                "%+.0f s to %+.0f s after the change, %s of log; agent CPU %.2f s"
                % (run_number + 1, latency, latency - QUIET_PERIOD,
                   (first_at or 0) - int(wall_changed), (done_at or 0) - int(wall_changed),
                   mib(log_bytes[-1]) + " MiB", cpu_used))
        peak_rss, peak_hwm, _ = proc_figures(agent.pid)
        stop_agent()
        log("agent stopped with status %d; VmRSS at the end %.1f MiB, VmHWM %.1f MiB"
            % (agent.returncode, peak_rss / 1024, peak_hwm / 1024))

        # 3. rsync for the same kind of change, the agent no longer running.
        rsync_times = []
        for run_number in range(args.runs):
            content = change_file(probe, 100 + run_number)
            started = time.monotonic()
            run(["rsync", "-a", music + "/", rsync_copy + "/"], env=env)
            rsync_times.append(time.monotonic() - started)
            if read_bytes(rsync_probe) != content:
                log("rsync did not copy the changed file")
                return 1
            log("  rsync after change %d: %.2f s" % (run_number + 1, rsync_times[-1]))

        jobs = [latency - QUIET_PERIOD for latency in latencies]
        job = statistics.median(jobs)
        reference = statistics.median(rsync_times)
        log("")
        log("| Figure | Runs | Median | Target | |")
        log("|---|---|---|---|---|")
        log("| agent VmRSS idle (MiB) | %.1f | **%.1f** | <= 60 | %s |"
            % (rss1 / 1024, rss1 / 1024, "met" if rss1 / 1024 <= 60 else "missed"))
        log("| agent VmHWM after first sync (MiB) | %.1f | %.1f | | |" % (hwm1 / 1024, hwm1 / 1024))
        # /proc counts CPU time in clock ticks (10 ms): one tick is the smallest measurable use.
        tick = 1.0 / os.sysconf("SC_CLK_TCK")
        log("| agent CPU over %.0f s idle (s) | %.2f | **%.2f** (%.2f%% of a core) | none measurable | %s |"
            % (IDLE_WINDOW, idle_cpu, idle_cpu, 100 * idle_cpu / IDLE_WINDOW,
               "met" if idle_cpu <= tick + 1e-9 else "missed"))
        log("| change on the drive after (s) | %s | %.2f | | |"
            % (" / ".join("%.2f" % v for v in latencies), statistics.median(latencies)))
        log("| job after the 10 s quiet period (s) | %s | **%.2f** | < 1 | %s |"
            % (" / ".join("%.2f" % v for v in jobs), job, "met" if job < 1 else "missed"))
        log("| job's first stamped log line after the change (s, whole seconds) | %s | %.0f | | |"
            % (" / ".join("%.0f" % v for v in log_starts), statistics.median(log_starts)))
        log("| job from its first to its last stamped log line (s, whole seconds) | %s | %.0f | | |"
            % (" / ".join("%.0f" % v for v in log_jobs), statistics.median(log_jobs)))
        counted = [v for v in log_bytes if v is not None]
        log("| agent log added per change (MiB, --debug; n/a: log started afresh) | %s | %s | | |"
            % (" / ".join(mib(v) for v in log_bytes), mib(statistics.median(counted) if counted else None)))
        log("| agent CPU per change (s) | %s | %.2f | | |"
            % (" / ".join("%.2f" % v for v in cpu_per_change), statistics.median(cpu_per_change)))
        log("| rsync -a for the same change (s) | %s | %.2f | | |"
            % (" / ".join("%.2f" % v for v in rsync_times), reference))
        log("| ratio job / rsync | | **%.2f** | | |" % (job / reference))
        log("load:        %s" % open("/proc/loadavg").read().strip())
        return 0
    except RuntimeError as error:
        log("agent_bench: %s" % error)
        return 1
    finally:
        stop_agent()
        if agent_log:
            agent_log.close()
        if bus:
            bus.close()
        if drive:
            drive.close()
        if args.keep:
            log("kept %s (agent output in agent.out, log in home/.local/state/pellmere)" % scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
