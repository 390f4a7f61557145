#!/usr/bin/env bash
# Installs what is missing, builds, and runs the Pellmere agent once.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/bootstrap-debian.sh
dir=$(scripts/build.sh | tail -n 1)
"$dir/src/agent/app/pellmere" "$@"
