#!/usr/bin/env bash
# Builds the libFuzzer target of the event decoder with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in its own build folder and runs it for a fixed time.
# Usage: scripts/fuzz.sh [seconds (default 60)] [build-dir (default build-fuzz)]
# Warnings are not errors here: the gcc builds enforce that, and a clang-only warning in a
# library the target links must not stop the fuzzing.
# Exits non-zero when the fuzzer finds a crash, a leak, a hang or an oversized allocation;
# the input that caused it is left in the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
dir="${2:-build-fuzz}"

scripts/bootstrap-debian.sh
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja \
  -DPELLMERE_FUZZ=ON -DPELLMERE_SANITIZE=ON -DPELLMERE_WERROR=OFF \
  -DPELLMERE_BUILD_TESTS=OFF -DPELLMERE_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target pm_decode_fuzzer --parallel "$(nproc)"

corpus="$dir/corpus/decode"
mkdir -p "$corpus"
echo "fuzz: running the event decoder for ${seconds} s"
"$dir/fuzz/pm_decode_fuzzer" "$corpus" fuzz/seeds \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
  -dict=fuzz/protocol.dict -artifact_prefix="$dir/" -print_final_stats=1
echo "fuzz: no failure in ${seconds} s"
