#!/usr/bin/env bash
# Configures and builds Pellmere. Usage: scripts/build.sh [--sanitize|--tsan] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."

variant=default
case "${1:-}" in
  --sanitize) variant=sanitize; shift ;;
  --tsan) variant=tsan; shift ;;
esac

options=(-DPELLMERE_WERROR=ON)
case "$variant" in
  default) dir="${1:-build}" ;;
  sanitize) dir="${1:-build-sanitize}"; options+=(-DPELLMERE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  tsan) dir="${1:-build-tsan}"; options+=(-DPELLMERE_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
esac

cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
echo "$dir"
