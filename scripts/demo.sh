#!/usr/bin/env bash
# Installs what is missing, builds, and shows Pellmere at work: a small sample home (songs,
# pictures and movies made with ffmpeg, and documents) is synced onto a sample drive folder
# with a device filter, the files the filter left out are listed with the program's reasons,
# and the home is synced again to show that nothing is copied twice.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap-debian.sh >/dev/null
dir=$(scripts/build.sh | tail -n 1)
pellmere="$PWD/$dir/src/agent/app/pellmere"

demo=$(mktemp -d /tmp/pellmere-demo-XXXXXX)
home="$demo/home"
drive="$demo/drive"
mkdir -p "$home/Music/Album" "$home/Pictures" "$home/Movies" "$home/Documents" "$drive"
# Everything the demo does stays inside its own folder.
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.local/state" \
       XDG_RUNTIME_DIR="$demo/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
make() { ffmpeg -loglevel error -y "$@"; }

say "Making a sample home in $home"
make -f lavfi -i "sine=frequency=440:duration=3" -c:a aac "$home/Music/Album/01 Morning.m4a"
make -f lavfi -i "sine=frequency=660:duration=3" -c:a aac "$home/Music/Album/02 Evening.m4a"
make -f lavfi -i "testsrc=size=640x480:rate=1" -frames:v 1 "$home/Pictures/holiday.jpg"
make -f lavfi -i "testsrc=size=1024x768:rate=1" -frames:v 1 "$home/Pictures/diagram.png"
make -f lavfi -i "testsrc=size=640x480:rate=30:duration=2" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
     "$home/Movies/phone-clip.mp4"
make -f lavfi -i "testsrc=size=1280x720:rate=30:duration=2" -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
     "$home/Movies/hd-trailer.mp4"
printf 'Shopping list\n- bread\n- tea\n' > "$home/Documents/list.txt"
printf 'Meeting notes\n' > "$home/Documents/notes.txt"
(cd "$home" && find Music Pictures Movies Documents -type f | sort | sed 's/^/  /')

say "Syncing onto $drive for an older Apple device (device filter 4: standard-definition video only)"
"$pellmere" sync --drive "$drive" --device-filter 4 --categories all \
    --item "$home/Music" --item "$home/Pictures" --item "$home/Movies" --item "$home/Documents"

target=$(find "$drive" -mindepth 1 -maxdepth 1 -type d | head -n 1)
say "The copies landed in $target (one folder per computer and user)"
(cd "$target" && find . -type f -not -path './.Z_PM_W/*' | sort | sed 's|^\./|  |')

say "Left out, and why (the program's own reasons: pellmere sync --dry-run --explain)"
# The filter tells each refusal as it decides it; the dry run changes nothing on either side.
"$pellmere" sync --drive "$drive" --dry-run --explain 2>/dev/null \
  | sed -n '/^Left out/,$p' | tail -n +2 \
  | awk -F '\t' -v home="$home/" '
      index($1, home) == 1 { $1 = substr($1, length(home) + 1) }
      { printf "  %s: %s\n", $1, $2 }
      END { if (NR == 0) print "  nothing" }'

say "Syncing again: nothing has changed, so nothing is copied"
before=$(cd "$target" && find . -type f -not -path './.Z_PM_W/*' -printf '%i %T@ %p\n' | sort)
"$pellmere" sync --drive "$drive"
after=$(cd "$target" && find . -type f -not -path './.Z_PM_W/*' -printf '%i %T@ %p\n' | sort)
if [ "$before" = "$after" ]; then
  echo "  every file on the drive is the very same file as after the first sync: nothing copied twice"
else
  echo "  some files were copied again:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  exit 1
fi

say "Done"
echo "  The agent's log of both syncs: $XDG_STATE_HOME/pellmere/Pellmere.log"
echo "  The demo's files stay in $demo (delete it when you are done)."
