#!/usr/bin/env bash
# Makes everything a user installs, from the build tree (built first if it is not):
#   <build>/packages/*.deb                          the Debian packages (CPack)
#   <build>/packages/Pellmere-<version>-linux-<arch>.tar.xz
#                                                   the relocatable release archive
# and checks them: lintian (no errors), desktop-file-validate, appstreamcli validate, and that
# no program of the archive looks for libraries by an absolute path.
# Usage: scripts/package.sh [build-dir (default build)]
# PELLMERE_PACKAGE_CHECKS=required (as CI sets it) fails when a checking tool is missing;
# otherwise a missing tool only skips its check, with a message.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
start=$(date +%s)

if [ ! -f "$dir/CMakeCache.txt" ]; then
  dir=$(scripts/build.sh "$dir" | tail -n 1)
else
  # Already built: this only makes what packaging adds (manual pages, icons) if it is missing.
  cmake -S . -B "$dir" >/dev/null
  cmake --build "$dir" --parallel "$(nproc)" >/dev/null
fi
dir=$(cd "$dir" && pwd)
out="$dir/packages"
rm -rf "$out"
mkdir -p "$out"

have() {
  if command -v "$1" >/dev/null; then return 0; fi
  if [ "${PELLMERE_PACKAGE_CHECKS:-}" = "required" ]; then
    echo "package: $1 is missing (scripts/bootstrap-debian.sh installs it)" >&2
    exit 1
  fi
  echo "package: $1 is missing, its check is skipped (scripts/bootstrap-debian.sh installs it)"
  return 1
}

echo "package: Debian packages"
(cd "$dir" && cpack -G DEB --config CPackConfig.cmake >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb

echo "package: release archive"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
arch=$(uname -m)
stage="$out/archive"
tree="$stage/Pellmere"
# The archive leaves out the session entries of the packages (pellmere-session): they name the
# agent by an absolute path; a per-user copy's manager writes the user's own.
for component in pellmere corvane-pellmere libcorvane-autoupdate1 libcorvane-autoupdate-dev; do
  cmake --install "$dir" --prefix "$tree" --component "$component" --strip >/dev/null
done
# Relocatable: every library search path is relative to the program's own folder.
bad=0
while IFS= read -r -d '' file; do
  if ! head -c 4 "$file" | grep -q $'\x7fELF'; then continue; fi
  while read -r path; do
    case "$path" in
      '$ORIGIN'*) ;;
      *) echo "package: $file looks for libraries in $path" >&2; bad=1 ;;
    esac
  done < <(readelf -d "$file" | grep -E '\((RUNPATH|RPATH)\)' | sed 's/.*\[\(.*\)\]$/\1/' | tr ':' '\n')
done < <(find "$tree" -type f -print0)
if grep -rIl --exclude='*.md' -e "$dir" -e "$PWD" "$tree" >/dev/null; then
  echo "package: the archive names the build or source folder:" >&2
  grep -rIl --exclude='*.md' -e "$dir" -e "$PWD" "$tree" >&2
  bad=1
fi
[ "$bad" -eq 0 ]
archive="$out/Pellmere-$version-linux-$arch.tar.xz"
epoch=$(git log -1 --format=%ct 2>/dev/null || date +%s)
tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" -C "$stage" -cf - Pellmere \
  | xz -T0 -6 > "$archive"
rm -rf "$stage"
ls "$archive"
packaged=$(date +%s)

echo "package: checks"
if have lintian; then
  # Errors fail; warnings are fixed or overridden in data/debian/*.lintian-overrides.
  lintian --fail-on error "$out"/*.deb
fi
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
for deb in "$out"/*.deb; do dpkg-deb -x "$deb" "$unpacked"; done
if have desktop-file-validate; then
  find "$unpacked" -name '*.desktop' -print0 | xargs -0 -n1 desktop-file-validate
fi
if have appstreamcli; then
  appstreamcli validate --no-net --explain "$unpacked"/usr/share/metainfo/*.metainfo.xml
fi
echo "package: made in $((packaged - start)) s, checked in $(( $(date +%s) - packaged )) s"
