#!/bin/sh
# The checker must catch a sync that breaks its word: run it against a stand-in program and
# expect it to fail with the given complaint. Usage: selftest.sh CHECKER FAKE WORK EXPECTED
checker=$1 fake=$2 work=$3 expected=$4
output=$(python3 "$checker" --pellmere "$fake" --fs ext4 --work-dir "$work" --seed 1 2>&1)
status=$?
echo "$output"
if [ "$status" -eq 77 ]; then
  exit 77
fi
if [ "$status" -ne 1 ]; then
  echo "selftest: the checker answered $status for $(basename "$fake"), expected 1 (a failure)"
  exit 1
fi
if ! printf '%s\n' "$output" | grep -qF "$expected"; then
  echo "selftest: the checker failed, but without saying \"$expected\""
  exit 1
fi
if ! printf '%s\n' "$output" | grep -q "FAILING SEED ext4 1 "; then
  echo "selftest: the checker did not print the failing seed"
  exit 1
fi
echo "selftest: the checker caught $(basename "$fake")"
