#!/usr/bin/env bash
# Idle resident memory of the agent with each face: headless (no display) and desktop (a
# display: Xvfb, the agent's tray menu, no window open), each on a private session bus with no
# drives, sampled after the agent has been idle for 10 s.
#
#   bench/desktop/faces_rss.sh [path/to/pellmere]     (needs dbus-run-session and xvfb-run)
#
# Prints VmRSS and the number of mapped Qt libraries of each; the exit status only says
# whether the measurement worked.
set -euo pipefail
agent="$(realpath "${1:-build/src/agent/app/pellmere}")"
scratch="$(mktemp -d /var/tmp/pellmere-faces.XXXXXX)"
trap 'rm -rf "$scratch"' EXIT

# One agent in a home of its own: prints "<VmRSS kB> <Qt libraries mapped>" when idle.
cat > "$scratch/one.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
home="$1"; agent="$2"
mkdir -p "$home/run" "$home/volumes"; chmod 700 "$home/run"
HOME="$home" XDG_RUNTIME_DIR="$home/run" PELLMERE_VOLUME_ROOTS="$home/volumes" \
  "$agent" --foreground >"$home/agent.out" 2>&1 &
pid=$!
sleep 10
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")
qt=$(grep -o 'libQt6[A-Za-z]*' "/proc/$pid/maps" | sort -u | tr '\n' ' ')
kill -TERM "$pid"; wait "$pid" || true
echo "$rss kB  [$qt]"
INNER
chmod +x "$scratch/one.sh"

echo -n "headless: "
env -u DISPLAY -u WAYLAND_DISPLAY dbus-run-session -- "$scratch/one.sh" "$scratch/headless" "$agent" 2>/dev/null
echo -n "desktop (Xvfb): "
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  dbus-run-session -- "$scratch/one.sh" "$scratch/desktop" "$agent" 2>/dev/null
