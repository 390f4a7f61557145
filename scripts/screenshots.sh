#!/usr/bin/env bash
# Screenshots of the agent's log window and dialogs, drawn on a virtual X display (Xvfb).
# Usage: scripts/screenshots.sh [build-dir]   (pictures go to <build-dir>/screenshots/)
# Copy them to docs/images/ when the windows change.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"

if ! command -v xvfb-run >/dev/null; then
  echo "screenshots: xvfb-run is missing (scripts/bootstrap-debian.sh installs xvfb)" >&2
  exit 1
fi
cmake --build "$dir" --target pellmere-desktop-screenshots >/dev/null

# A home of its own: the windows keep their frames in the user's configuration.
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
out="$dir/screenshots"
mkdir -p "$out"
env -u WAYLAND_DISPLAY HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home" \
  QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" \
  "$dir/tools/desktop-screenshots/pellmere-desktop-screenshots" "$out"
ls -l "$out"
