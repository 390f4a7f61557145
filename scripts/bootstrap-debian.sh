#!/usr/bin/env bash
# Installs the Debian packages Pellmere needs to build and to run its tests.
# Idempotent: installs only what is missing. Works as root and through sudo.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build ccache pkg-config git
  qt6-base-dev qt6-base-dev-tools
  libplist-dev libplist++-dev
  libavformat-dev libavcodec-dev libavutil-dev
  libmount-dev libblkid-dev libattr1-dev libacl1-dev
  libgtest-dev libgmock-dev googletest
  # tests and demo: media generation, session bus, drive images
  ffmpeg dbus e2fsprogs dosfstools exfat-fuse exfatprogs ntfs-3g mtools fdisk util-linux rsync fusefat
  # writable FAT32 drives: the kernel's vfat driver in a libguestfs appliance (guestmount), which
  # boots the distribution's kernel (the small cloud flavour is enough); the sync checker
  python3 libguestfs-tools linux-image-cloud-amd64
  # benchmarks: peak memory of a run (bench/sync), the reference watcher (bench/platform)
  time inotify-tools
  # screenshots of the desktop face (scripts/screenshots.sh)
  xvfb xauth
  # network storage: discovery (Avahi), SMB share listing and guest mounts (GVfs); the tests run
  # their own avahi-daemon on loopback and smbd on a loopback port
  libavahi-client-dev avahi-daemon avahi-utils libsmbclient-dev samba smbclient
  gvfs gvfs-backends gvfs-fuse
  # software update: release archives
  libarchive-dev
  # packaging (scripts/package.sh): icons rendered from their drawing, shlibdeps' file type
  # check, the package, desktop entry and metainfo checks; the install test's Debian root
  librsvg2-bin file xz-utils lintian desktop-file-utils appstream mmdebstrap man-db
  # fuzzing (scripts/fuzz.sh): clang with libFuzzer
  clang libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all ${#packages[@]} packages are installed"
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "bootstrap: these packages are missing and neither root nor sudo is available:" >&2
    printf '  %s\n' "${missing[@]}" >&2
    exit 1
  fi
  sudo_cmd=(sudo)
fi

echo "bootstrap: installing ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
