#!/usr/bin/env python3
"""Start-up time of the manager's window as a new user sees it: from starting `corvane-pellmere`
until its window is on the display with the mounted drive in its list.

Every run has a fresh home (HOME and the XDG folders in a scratch folder) and a fresh private
session bus (`dbus-daemon --session`, whose activation folders are those of that home), so the
manager writes the agent's D-Bus activation file, the bus starts the agent from it and the
manager waits for the agent before it shows the window, as at a user's first start. One ext4
image, loop-mounted below PELLMERE_VOLUME_ROOTS, is the mounted drive.

The manager is run with PELLMERE_REPORT_SHOWN=1: it prints "shown <ms>" once the window is
exposed with a drive listed. The time measured is from starting the process to reading that
line; the manager's own figure (from its main) is printed beside it. Then manager, agent and
bus are stopped.

  sudo bench/manager/startup_bench.py [--runs N] [--manager PATH] [--keep]

Needs root (loop mount), dbus-daemon, dbus-send and a display; without DISPLAY it runs itself
again under xvfb-run. Prints the runs and their median; the exit status only says whether the
measurement itself worked.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from loopdrive import Drive, log, private_home_env  # noqa: E402

AGENT_BUS_NAME = "com.corvane.pellmere"
TIMEOUT = 60.0


def fresh_env(home, volumes):
    env = private_home_env(home, "xcb")
    env["PELLMERE_VOLUME_ROOTS"] = volumes
    env["PELLMERE_REPORT_SHOWN"] = "1"
    # The manager's updater never asks the real update service during a measurement.
    config = env.get("XDG_CONFIG_HOME", os.path.join(home, ".config"))
    folder = os.path.join(config, "corvane", "AutoUpdate", "Pellmere")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "UpdaterProps.plist"), "w", encoding="utf-8") as props:
        props.write('<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>'
                    "<key>UpdateCheckInterval</key><integer>0</integer></dict></plist>\n")
    return env


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def agent_pid(address):
    reply = subprocess.run(["dbus-send", "--bus=" + address, "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                            "string:" + AGENT_BUS_NAME], capture_output=True, text=True)
    for word in reply.stdout.split():
        if word.isdigit():
            return int(word)
    return None


def one_run(manager, home, volumes, logs):
    """Seconds from starting the manager to its "shown" line, and the manager's own figure."""
    env = fresh_env(home, volumes)
    with open(os.path.join(logs, "bus.err"), "ab") as errors:
        bus = subprocess.Popen(["dbus-daemon", "--session", "--print-address", "--nofork"], env=env,
                               stdout=subprocess.PIPE, stderr=errors, stdin=subprocess.DEVNULL, text=True)
    address = bus.stdout.readline().strip()
    if not address:
        stop(bus)
        raise RuntimeError("dbus-daemon printed no address")
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    manager_process = None
    try:
        with open(os.path.join(logs, "manager.err"), "ab") as errors:
            started = time.monotonic()
            manager_process = subprocess.Popen([manager], env=env, stdout=subprocess.PIPE, stderr=errors,
                                               stdin=subprocess.DEVNULL, text=True)
        # The manager prints nothing else on stdout; one that dies closes the pipe, one that
        # hangs is killed after TIMEOUT, which closes it too.
        watchdog = threading.Timer(TIMEOUT, manager_process.kill)
        watchdog.start()
        try:
            line = manager_process.stdout.readline()
        finally:
            watchdog.cancel()
        elapsed = time.monotonic() - started
        if not line.startswith("shown "):
            status = manager_process.wait()
            raise RuntimeError("the manager ended (status %d) after %.1f s without showing its window; "
                               "printed %r (see %s)" % (status, elapsed, line, logs))
        return elapsed, int(line.split()[1]) / 1000.0
    finally:
        pid = agent_pid(address)
        if manager_process:
            stop(manager_process)
        if pid:
            try:
                os.kill(pid, 15)
            except ProcessLookupError:
                pass
        stop(bus)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--manager", default="build/src/manager/app/corvane-pellmere")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder (logs)")
    args = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        command = ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24", sys.executable, os.path.abspath(__file__)]
        return subprocess.run(command + sys.argv[1:]).returncode
    if os.geteuid() != 0:
        log("startup_bench: needs root for the loop-mounted drive")
        return 1
    manager = os.path.abspath(args.manager)
    scratch = tempfile.mkdtemp(prefix="pellmere-startup.", dir="/var/tmp")
    volumes = os.path.join(scratch, "volumes")
    drive = Drive(os.path.join(scratch, "drive.img"), os.path.join(volumes, "Backup Disk"), 64 * 1024 * 1024, 4096)
    keep = args.keep
    try:
        results = []
        for index in range(args.runs):
            home = os.path.join(scratch, "home%02d" % index)
            total, own = one_run(manager, home, volumes, scratch)
            results.append(total)
            log("run %d: window shown after %.3f s (the manager's own count: %.3f s)" % (index + 1, total, own))
        log("median of %d runs: %.3f s (min %.3f, max %.3f)"
            % (len(results), statistics.median(results), min(results), max(results)))
    except RuntimeError as error:
        log("startup_bench: %s" % error)
        keep = True
        return 1
    finally:
        drive.close()
        if keep:
            log("scratch kept: " + scratch)
        else:
            subprocess.run(["rm", "-rf", scratch])
    return 0


if __name__ == "__main__":
    sys.exit(main())
