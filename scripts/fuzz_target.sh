#!/usr/bin/env bash
# Runs one libFuzzer target for a given time on a copy of its seed corpus and prints one line:
#   TARGET: SECONDS s, RUNS runs, corpus N inputs, no finding
# or, on a finding, "FINDING" with the saved input and the end of the fuzzer's log. The repository's
# corpus is only read: the run works in SCRATCH (emptied first), which keeps the grown corpus
# (SCRATCH/corpus), the fuzzer's log (SCRATCH/log) and any finding (SCRATCH/findings/).
#   scripts/fuzz_target.sh BINARY CORPUS SCRATCH SECONDS [libFuzzer options...]
# Exits with the fuzzer's status: 0 when it found nothing.
set -uo pipefail

if [ $# -lt 4 ]; then
  echo "usage: $0 BINARY CORPUS SCRATCH SECONDS [libFuzzer options...]" >&2
  exit 2
fi
binary=$1 corpus=$2 scratch=$3 seconds=$4
shift 4
name=$(basename "$binary")

rm -rf "$scratch"
mkdir -p "$scratch/corpus" "$scratch/findings"
if [ -d "$corpus" ]; then
  cp -R "$corpus"/. "$scratch/corpus/"
fi

# stdout of the target is closed (-close_fd_mask=1): the code under test prints the HID link's
# error lines there, thousands of them. The fuzzer reports on stderr.
"$binary" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
  -close_fd_mask=1 -artifact_prefix="$scratch/findings/" "$@" "$scratch/corpus" >"$scratch/log" 2>&1
status=$?

runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/log" | tail -n 1)
inputs=$(find "$scratch/corpus" -type f | wc -l)
findings=$(find "$scratch/findings" -type f | wc -l)
if [ "$status" -eq 0 ] && [ "$findings" -eq 0 ]; then
  echo "$name: $seconds s, ${runs:-?} runs, corpus $inputs inputs, no finding"
  exit 0
fi
echo "$name: $seconds s, ${runs:-?} runs, corpus $inputs inputs, FINDING (status $status)"
find "$scratch/findings" -type f -printf '  saved input: %p\n'
tail -n 40 "$scratch/log" | sed 's/^/  | /'
[ "$status" -ne 0 ] && exit "$status"
exit 1
