#!/usr/bin/env bash
# Benchmarks of the 16 MiB N64 dump on cartsim, five runs each, medians in a table:
#   - n64dump's wall time, CPU time (user + sys) and peak memory on a mount without delays;
#   - the floor: bench/protocol_floor, only the protocol's file operations for the same commands;
#   - n64dump on a link as slow as full-speed USB (--bytes-per-sec 1200000 --latency-us 1000),
#     against the link's own time for the bytes and commands that cartsim counted; the floor on
#     the same link beside it, since no host can do better than the floor there either;
# and of extended runs on the mount without delays:
#   - a 64 MiB cartridge dumped with --size auto --z64: wall time, CPU time and peak memory;
#   - --verify on the 16 MiB cartridge, against the same extended dump without it;
#   - the run without arguments against the floor once more, with its flush overlapped with the
#     reading.
# The last line is the n64dump / floor ratio.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"

runs=5
ensure_packages "${base_packages[@]}" time || exit 1
configure_and_build build >/dev/null || { echo "bench: the build failed"; exit 1; }

bench=$(mktemp -d "$repo_root/build/bench.XXXXXX")
cleanup() {
  stop_cartsim
  undo_cartsim_mounts >/dev/null
  rm -rf "$bench"
}
trap cleanup EXIT
build/bin/testrom --seed 3 --size 16M -o "$bench/cartridge.z64" || exit 1
build/bin/testrom --seed 3 --size 64M -o "$bench/cartridge64.z64" || exit 1
echo "; no cartridges" >"$bench/empty.ini"
mkdir -p "$bench/work"
show_as_removable_volume "$bench/host" "$bench/drive" || exit 1

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs n64dump once on the mount with the given arguments (none: the run without arguments), in a
# working directory without an earlier dump as a user's first run; checks that IMAGE there is
# CARTRIDGE and removes it; appends "wall cpu peak_kib" to the named file. The wall time is taken to
# the microsecond (time(1) gives hundredths only).
#   run_once FILE CARTRIDGE IMAGE [n64dump arguments...]
run_once() {
  local out=$1 cartridge=$2 image=$3 start=$EPOCHREALTIME end
  shift 3
  (cd "$bench/work" && env "${volume_overrides[@]}" /usr/bin/time -f '%U %S %M' -o "$bench/time" \
    "$repo_root/build/bin/n64dump" "$@" </dev/null >/dev/null 2>&1) || [ $? -eq 3 ] ||
    { echo "bench: n64dump $* failed"; return 1; }
  end=$EPOCHREALTIME
  cmp -s "$cartridge" "$bench/work/$image" || { echo "bench: the dump differs ($image)"; return 1; }
  rm -f "$bench/work/$image"
  awk -v s="$start" -v e="$end" '{ printf "%.3f %.3f %s\n", e - s, $1 + $2, $3 }' "$bench/time" >>"$out"
}

# The run without arguments.
dump_once() { run_once "$1" "$bench/cartridge.z64" Dump16M.n64; }

# Runs the floor once, timed from outside as n64dump is; appends its wall time to the named file.
floor_once() {
  local start=$EPOCHREALTIME
  build/bin/protocol_floor "$bench/drive" >/dev/null || { echo "bench: the floor failed"; return 1; }
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", e - s }' >>"$1"
}

echo "== $runs dumps and $runs floors on a mount without delays"
start_cartsim "$bench/drive" "$bench/ready" "$bench/cartsim.err" --rom "$bench/cartridge.z64" || exit 1
: >"$bench/fast"
: >"$bench/floor"
for i in $(seq $runs); do
  dump_once "$bench/fast" || exit 1
  floor_once "$bench/floor" || exit 1
done
echo "== $runs extended dumps of 16 MiB, with and without --verify"
: >"$bench/plain16"
: >"$bench/verify16"
extended=(--size 16 --catalogue "$bench/empty.ini")
for i in $(seq $runs); do
  run_once "$bench/plain16" "$bench/cartridge.z64" Dump16M.n64 "${extended[@]}" || exit 1
  run_once "$bench/verify16" "$bench/cartridge.z64" Dump16M.n64 "${extended[@]}" --verify || exit 1
done
stop_cartsim

echo "== $runs dumps of a 64 MiB cartridge with --size auto --z64"
start_cartsim "$bench/drive" "$bench/ready" "$bench/cartsim.err" --rom "$bench/cartridge64.z64" || exit 1
: >"$bench/auto64"
for i in $(seq $runs); do
  run_once "$bench/auto64" "$bench/cartridge64.z64" Dump64M.z64 --size auto --z64 --catalogue "$bench/empty.ini" ||
    exit 1
done
stop_cartsim

slow_link=(--bytes-per-sec 1200000 --latency-us 1000)
# The link's own time per run for what cartsim counted since it started: a millisecond per
# command, and every byte served or taken at 1200000 bytes per second. cartsim's statistics read
# "N commands accepted, ...; B bytes served in ...; W bytes taken in ...".
link_time() {
  local commands served taken
  read -r commands served taken < <(sed -nE \
    's/.* ([0-9]+) commands accepted.* ([0-9]+) bytes served.* ([0-9]+) bytes taken.*/\1 \2 \3/p' "$bench/cartsim.err")
  awk -v c="$commands" -v s="$served" -v t="$taken" -v n="$runs" \
    'BEGIN { printf "%.3f", (c * 0.001 + (s + t) / 1200000) / n }'
}

# Mounts cartsim on the slow link, runs STEP (dump_once or floor_once) $runs times into FILE and
# unmounts, so that cartsim's statistics count that STEP's runs alone.
on_slow_link() {
  local step=$1 out=$2 i
  start_cartsim "$bench/drive" "$bench/ready" "$bench/cartsim.err" --rom "$bench/cartridge.z64" "${slow_link[@]}" ||
    return 1
  : >"$out"
  for i in $(seq $runs); do
    "$step" "$out" || return 1
  done
  stop_cartsim
}

echo "== $runs dumps on a full-speed USB link (1200000 bytes/s, 1000 us per command)"
on_slow_link dump_once "$bench/slow" || exit 1
link=$(link_time)
echo "== $runs floors on that link"
on_slow_link floor_once "$bench/slow_floor" || exit 1
floor_link=$(link_time)

fast_wall=$(cut -d' ' -f1 "$bench/fast" | median)
fast_cpu=$(cut -d' ' -f2 "$bench/fast" | median)
fast_rss=$(cut -d' ' -f3 "$bench/fast" | median)
floor=$(median <"$bench/floor")
slow_wall=$(cut -d' ' -f1 "$bench/slow" | median)
slow_floor=$(median <"$bench/slow_floor")

echo
printf '%-46s %12s %10s\n' "measure (median of $runs)" "value" "target"
printf '%-46s %11.3fs %10s\n' "n64dump wall time, no delays" "$fast_wall" ""
printf '%-46s %11.3fs %10s\n' "floor: the protocol's file operations alone" "$floor" ""
printf '%-46s %12.3f %10s\n' "n64dump / floor" "$(awk -v a="$fast_wall" -v b="$floor" 'BEGIN { print a / b }')" "<= 1.10"
printf '%-46s %11.3fs %10s\n' "n64dump CPU time (user + sys)" "$fast_cpu" ""
printf '%-46s %9.1fMiB %10s\n' "n64dump peak memory (RSS)" "$(awk -v k="$fast_rss" 'BEGIN { print k / 1024 }')" "<= 24 MiB"
printf '%-46s %11.3fs %10s\n' "n64dump wall time, full-speed USB link" "$slow_wall" ""
printf '%-46s %11.3fs %10s\n' "the link's own time for those bytes" "$link" ""
printf '%-46s %12.3f %10s\n' "n64dump / link" "$(awk -v a="$slow_wall" -v b="$link" 'BEGIN { print a / b }')" "<= 1.02"
printf '%-46s %11.3fs %10s\n' "floor on that link" "$slow_floor" ""
printf '%-46s %12.3f %10s\n' "floor / the link's own time for its bytes" "$(awk -v a="$slow_floor" -v b="$floor_link" 'BEGIN { print a / b }')" ""
auto_wall=$(cut -d' ' -f1 "$bench/auto64" | median)
auto_cpu=$(cut -d' ' -f2 "$bench/auto64" | median)
auto_rss=$(cut -d' ' -f3 "$bench/auto64" | median)
plain16=$(cut -d' ' -f1 "$bench/plain16" | median)
verify16=$(cut -d' ' -f1 "$bench/verify16" | median)
printf '%-46s %11.3fs %10s\n' "64 MiB --size auto --z64: wall time" "$auto_wall" ""
printf '%-46s %11.3fs %10s\n' "64 MiB --size auto --z64: CPU time" "$auto_cpu" ""
printf '%-46s %9.1fMiB %10s\n' "64 MiB --size auto --z64: peak memory (RSS)" "$(awk -v k="$auto_rss" 'BEGIN { print k / 1024 }')" "<= 24 MiB"
printf '%-46s %12.3f %10s\n' "16 MiB --verify / the same dump without it" "$(awk -v a="$verify16" -v b="$plain16" 'BEGIN { print a / b }')" "<= 2.05"
printf '%-46s %12.3f %10s\n' "no-argument run / floor, flush overlapped" "$(awk -v a="$fast_wall" -v b="$floor" 'BEGIN { print a / b }')" "<= 1.05"
echo
echo "n64dump / floor: $(awk -v a="$fast_wall" -v b="$floor" 'BEGIN { printf "%.3f", a / b }')"
