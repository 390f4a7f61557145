#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
# Usage: scripts/test.sh [--sanitize|--tsan] [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap-debian.sh
variant=()
case "${1:-}" in
  --sanitize|--tsan) variant=("$1"); shift ;;
esac
dir=$(scripts/build.sh "${variant[@]}" | tail -n 1)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# Keep Qt from looking for a display in tests that do not need one.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" "$@"
