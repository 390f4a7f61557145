#!/usr/bin/env bash
# Screenshots of the agent's log window, dialogs and sync preview window (with the real plan of
# a sample home's next sync: files made with ffmpeg, synced once onto a sample drive folder for
# an older Apple device, then changed), of the manager's main window (idle, syncing, after
# success, after failure) and of its software update window, drawn on a virtual X display (Xvfb).
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
if ! command -v ffmpeg >/dev/null; then
  echo "screenshots: ffmpeg is missing (scripts/bootstrap-debian.sh installs it)" >&2
  exit 1
fi
if ! log="$(cmake --build "$dir" --target pellmere pellmere-desktop-screenshots pellmere-manager-screenshots \
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

# The preview's sample: a home synced once onto a folder, then changed, so the next sync has
# new, changed and left-out files to show.
sample_drive="$scratch/preview-drive"
mkdir -p "$home/Music/Album" "$home/Movies" "$home/Documents" "$home/Pictures" "$sample_drive" "$scratch/run"
chmod 700 "$scratch/run"
make_media() { ffmpeg -loglevel error -y "$@"; }
make_media -f lavfi -i "sine=frequency=440:duration=2" -c:a aac "$home/Music/Album/01 Morning.m4a"
make_media -f lavfi -i "testsrc=size=640x480:rate=1" -frames:v 1 "$home/Pictures/holiday.jpg"
make_media -f lavfi -i "testsrc=size=640x480:rate=30:duration=1" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  "$home/Movies/phone-clip.mp4"
printf 'Shopping list\n- bread\n' > "$home/Documents/list.txt"
run_sync() {
  env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_STATE_HOME="$home/.local/state" XDG_RUNTIME_DIR="$scratch/run" "$dir/src/agent/app/pellmere" sync "$@"
}
run_sync --drive "$sample_drive" --device-filter 4 --categories all --item "$home/Music" --item "$home/Pictures" \
  --item "$home/Movies" --item "$home/Documents" >/dev/null 2>&1
make_media -f lavfi -i "sine=frequency=660:duration=2" -c:a aac "$home/Music/Album/02 Evening.m4a"
make_media -f lavfi -i "sine=frequency=550:duration=2" -c:a ac3 "$home/Music/Album/03 Night.ac3"
make_media -f lavfi -i "testsrc=size=1280x720:rate=30:duration=1" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  "$home/Movies/hd-trailer.mp4"
make_media -f lavfi -i "testsrc=size=640x480:rate=31:duration=1" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  "$home/Movies/fast.mov"
make_media -f lavfi -i "testsrc=size=640x480:rate=30:duration=1" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  "$home/Movies/holiday.mkv"
make_media -f lavfi -i "testsrc=size=1024x768:rate=1" -frames:v 1 "$home/Pictures/diagram.png"
printf 'Shopping list\n- bread\n- tea\n' > "$home/Documents/list.txt"
touch -d '+1 minute' "$home/Documents/list.txt"

run_on_display "$dir/tools/desktop-screenshots/pellmere-desktop-screenshots" "$out" "$sample_drive"

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
