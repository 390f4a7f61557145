#!/usr/bin/env bash
# Screenshots of the agent's log window and dialogs, of the manager's main window (idle,
# syncing, after success, after failure) and of its software update window, drawn on a virtual X display (Xvfb).
# Usage: scripts/screenshots.sh [build-dir]   (pictures go to <build-dir>/screenshots/)
# Copy them to docs/images/ when the windows change.
#
# Run as root, the manager's pictures list a real drive: a small ext4 image labelled
# "Backup Disk", loop-mounted below a volume root of the run's own. Otherwise a folder stands
# in for the drive (the list then shows no capacity).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"

if ! command -v xvfb-run >/dev/null; then
  echo "screenshots: xvfb-run is missing (scripts/bootstrap-debian.sh installs xvfb)" >&2
  exit 1
fi
if ! log="$(cmake --build "$dir" --target pellmere-desktop-screenshots pellmere-manager-screenshots \
  pellmere-update-screenshots 2>&1)"; then
  echo "$log" >&2
  echo "screenshots: the screenshot tools did not build" >&2
  exit 1
fi

# A home of its own: the windows keep their frames in the user's configuration. (The
# manager's tool makes a home of its own as well: its pictures show folders of it.)
scratch="$(mktemp -d)"
home="$scratch/home"
mkdir -p "$home"
drive=""
cleanup() {
  if [ -n "$drive" ]; then
    umount "$drive" 2>/dev/null || umount -l "$drive" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
out="$dir/screenshots"
mkdir -p "$out"

run_on_display() {
  env -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_RUNTIME_DIR="$home" PELLMERE_VOLUME_ROOTS="$scratch/media" QT_QPA_PLATFORM=xcb \
    QT_LOGGING_RULES="pellmere.*.debug=false" \
    xvfb-run -a -s "-screen 0 1280x800x24" "$@"
}

run_on_display "$dir/tools/desktop-screenshots/pellmere-desktop-screenshots" "$out"

mkdir -p "$scratch/media"
if [ "$(id -u)" -eq 0 ] && command -v mkfs.ext4 >/dev/null; then
  image="$scratch/drive.img"
  truncate -s 64M "$image"
  mkfs.ext4 -q -F -L "Backup Disk" "$image"
  mkdir -p "$scratch/media/Backup Disk"
  # mount sets up the loop device and detaches it again at umount.
  if mount -o loop "$image" "$scratch/media/Backup Disk"; then
    drive="$scratch/media/Backup Disk"
  fi
fi
run_on_display "$dir/tools/manager-screenshots/pellmere-manager-screenshots" "$out"
run_on_display "$dir/tools/update-screenshots/pellmere-update-screenshots" "$out"
ls -l "$out"
