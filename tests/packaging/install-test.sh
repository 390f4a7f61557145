#!/usr/bin/env bash
# Installs the Debian packages into a fresh Debian root with apt (their dependencies come from
# the package archive), runs the smoke test there, runs it again on the release archive
# unpacked into a temporary folder, then purges the packages and checks that they left no file
# behind.
#
# The smoke test: --version, pellmerectl --help, man -w, a `pellmere sync` of a small folder
# onto a folder, and the agent started by D-Bus activation on a private session bus.
#
# Usage: tests/packaging/install-test.sh [packages-dir (default build/packages)]
# The root (mmdebstrap, variant apt, with man-db and the session bus) and the packages apt
# downloads are kept in $PELLMERE_INSTALL_TEST_CACHE (default ~/.cache/pellmere-install-test)
# so that only the first run fetches them. Needs root (chroot, mounts) and mmdebstrap.
set -euo pipefail
cd "$(dirname "$0")/../.."
packages=$(cd "${1:-build/packages}" && pwd)
cache="${PELLMERE_INSTALL_TEST_CACHE:-$HOME/.cache/pellmere-install-test}"
start=$(date +%s)

if [ "$(id -u)" -ne 0 ]; then
  echo "install-test: needs root (chroot and mounts)" >&2
  exit 1
fi
command -v mmdebstrap >/dev/null || { echo "install-test: mmdebstrap is missing (scripts/bootstrap-debian.sh)" >&2; exit 1; }
debs=("$packages"/*.deb)
archives=("$packages"/Pellmere-*.tar.xz)
[ -f "${debs[0]}" ] && [ -f "${archives[0]}" ] || { echo "install-test: no packages in $packages (scripts/package.sh)" >&2; exit 1; }

# The same suites the packages were built against, so that every version they need exists.
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
mkdir -p "$cache/apt-archives/partial"
base="$cache/root-$suite.tar"
key=$(sha256sum "$sources" | cut -c1-16)
if [ ! -f "$base" ] || [ "$(cat "$base.key" 2>/dev/null)" != "$key" ]; then
  echo "install-test: making the Debian root (cached in $cache)"
  mmdebstrap --quiet --variant=apt --format=tar --include=man-db,dbus-daemon,dbus-bin,xz-utils \
    --aptopt='Acquire::Languages "none"' --dpkgopt='path-exclude=/usr/share/locale/*' \
    "$suite" "$base.new" "$sources"
  mv "$base.new" "$base"
  echo "$key" > "$base.key"
fi
made=$(date +%s)

root=$(mktemp -d /tmp/pellmere-install-root-XXXXXX)
mounts=()
cleanup() {
  local i
  for (( i=${#mounts[@]}-1; i>=0; i-- )); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT

tar -C "$root" -xf "$base"
mkdir -p "$root/work/debs"
cp "${debs[@]}" "${archives[0]}" "$root/work/debs/"
cp tests/packaging/smoke-test.sh "$root/work/"
mount --bind /proc "$root/proc" && mounts+=("$root/proc")
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" && mounts+=("$root/dev")
# The agent names this computer by its network interfaces.
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" && mounts+=("$root/sys")
mount -t tmpfs tmpfs "$root/tmp" && mounts+=("$root/tmp")
mount -t tmpfs tmpfs "$root/run" && mounts+=("$root/run")
mount --bind "$cache/apt-archives" "$root/var/cache/apt/archives" && mounts+=("$root/var/cache/apt/archives")
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
inroot() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive "$@"; }

# Everything but what changes by itself (logs, caches, apt's and dpkg's records, mounts).
filelist() {
  inroot find / -xdev \( -path /proc -o -path /dev -o -path /tmp -o -path /run -o -path /work \
    -o -path /var/log -o -path /var/cache -o -path /var/lib/apt -o -path /var/lib/dpkg \
    -o -path /etc/resolv.conf \) -prune -o -print | sort
}

inroot apt-get update -qq
before=$(filelist)
names=()
for deb in "${debs[@]}"; do names+=("$(dpkg-deb -f "$deb" Package)"); done
echo "install-test: apt installs ${names[*]}"
inroot apt-get install -y -qq --no-install-recommends $(printf '/work/debs/%s ' "${debs[@]##*/}") >/dev/null
installed=$(date +%s)
for name in "${names[@]}"; do inroot dpkg -L "$name"; done | sort -u > "$root/work/package-files"

echo "install-test: smoke test of the packages"
inroot /bin/sh /work/smoke-test.sh /usr packages

echo "install-test: purging the packages"
inroot apt-get purge -y -qq "${names[@]}" >/dev/null
left=0
while IFS= read -r file; do
  if [ -e "$root$file" ] && [ ! -d "$root$file" ]; then echo "install-test: left behind: $file" >&2; left=1; fi
done < "$root/work/package-files"

# With the packages gone but their libraries still there, so that only the archive's agent can
# answer on the bus.
echo "install-test: smoke test of the release archive"
inroot /bin/sh -c "mkdir -p /tmp/unpacked && tar -C /tmp/unpacked -xJf /work/debs/${archives[0]##*/} \
  && /bin/sh /work/smoke-test.sh /tmp/unpacked/Pellmere archive"
smoked=$(date +%s)

echo "install-test: removing what apt installed for the packages"
inroot apt-get autoremove --purge -y -qq -o APT::AutoRemove::RecommendsImportant=false \
  -o APT::AutoRemove::SuggestsImportant=false >/dev/null
after=$(filelist)
if [ "$before" != "$after" ]; then
  echo "install-test: the root differs after the purge:" >&2
  diff <(echo "$before") <(echo "$after") >&2 || true
  left=1
fi
[ "$left" -eq 0 ]
echo "install-test: passed in $(( $(date +%s) - start )) s (root $((made - start)) s, install $((installed - made)) s," \
  "smoke tests and purge $((smoked - installed)) s, autoremove $(( $(date +%s) - smoked )) s)"
