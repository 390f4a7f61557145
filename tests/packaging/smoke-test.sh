#!/bin/sh
# The smoke test of an installed Pellmere: the programs start, the manual page is found, a
# `pellmere sync` copies a small folder onto a folder, and the agent is started by D-Bus
# activation on a private session bus and answers pellmerectl.
# Usage: smoke-test.sh PREFIX packages|archive
#   packages: installed system-wide below PREFIX (/usr); the packages' activation file starts
#             the agent, and the manager must not write per-user entries.
#   archive:  a release archive unpacked at PREFIX; the manager writes the user's entries and
#             the bus starts the archive's own agent from them.
set -eu
prefix=$1
mode=$2
bin=$prefix/bin
scratch=$(mktemp -d /tmp/pellmere-smoke-XXXXXX)
# The bus daemon takes the user's folders from the password file unless told, Qt from $HOME:
# naming them keeps both in the scratch folder.
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" QT_QPA_PLATFORM=offscreen
export XDG_DATA_HOME="$HOME/.local/share" XDG_CONFIG_HOME="$HOME/.config" XDG_STATE_HOME="$HOME/.local/state"
unset DISPLAY WAYLAND_DISPLAY || true
mkdir -p "$HOME/Documents" "$XDG_RUNTIME_DIR" "$scratch/drive"
chmod 700 "$XDG_RUNTIME_DIR"

fail() { echo "smoke-test ($mode): $*" >&2; exit 1; }

"$bin/pellmere" --version | grep -q '^pellmere [0-9]' || fail "pellmere --version"
"$bin/corvane-pellmere" --version | grep -q 'corvane-pellmere [0-9]' || fail "corvane-pellmere --version"
"$bin/pellmerectl" --help | grep -q '^Usage: pellmerectl' || fail "pellmerectl --help"
if [ "$mode" = packages ]; then
  man -w pellmere >/dev/null || fail "man -w pellmere"
else
  MANPATH="$prefix/share/man" man -w pellmere >/dev/null || fail "man -w pellmere"
fi

printf 'Shopping list\n' > "$HOME/Documents/list.txt"
"$bin/pellmere" sync --drive "$scratch/drive" --item "$HOME/Documents" --categories all >/dev/null \
  || fail "pellmere sync"
copy=$(find "$scratch/drive" -name list.txt -not -path '*/.Z_PM_W/*')
[ -n "$copy" ] && cmp -s "$copy" "$HOME/Documents/list.txt" || fail "pellmere sync did not copy list.txt"

# On a private session bus: start the agent by activation, ask it something, stop it.
PELLMERE_SMOKE_AGENT="$(cd "$prefix" && pwd)/libexec/pellmere"
export PELLMERE_SMOKE_BIN="$bin" PELLMERE_SMOKE_MODE="$mode" PELLMERE_SMOKE_AGENT
dbus-run-session -- sh -eu -c '
  fail() { echo "smoke-test ($PELLMERE_SMOKE_MODE): $*" >&2; exit 1; }
  bus() { dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus "$@"; }
  user_entry="$XDG_DATA_HOME/dbus-1/services/com.corvane.pellmere.service"
  if [ "$PELLMERE_SMOKE_MODE" = packages ]; then
    bus org.freedesktop.DBus.StartServiceByName string:com.corvane.pellmere uint32:0 >/dev/null \
      || fail "the bus cannot start the agent"
  fi
  "$PELLMERE_SMOKE_BIN/corvane-pellmere" --start-agent >/dev/null || fail "corvane-pellmere --start-agent"
  if [ "$PELLMERE_SMOKE_MODE" = packages ]; then
    [ ! -e "$user_entry" ] || fail "the manager wrote per-user entries over the system-wide install"
  else
    grep -qxF "Exec=\"$PELLMERE_SMOKE_AGENT\" --foreground" "$user_entry" \
      || fail "the manager did not write the user entry of its own agent"
  fi
  "$PELLMERE_SMOKE_BIN/pellmerectl" drives >/dev/null || fail "pellmerectl drives"
  pid=$(bus org.freedesktop.DBus.GetConnectionUnixProcessID string:com.corvane.pellmere | sed -n "s/.*uint32 //p")
  [ -n "$pid" ] || fail "no agent on the bus"
  exe=$(readlink "/proc/$pid/exe")
  case "$exe" in
    "$PELLMERE_SMOKE_AGENT") ;;
    *) fail "the bus started $exe" ;;
  esac
  kill -TERM "$pid"
  tries=0
  while kill -0 "$pid" 2>/dev/null; do
    tries=$((tries + 1))
    [ "$tries" -le 300 ] || fail "the agent did not stop"
    sleep 0.1
  done
'
rm -rf "$scratch"
echo "smoke-test ($mode): passed"
