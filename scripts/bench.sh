#!/usr/bin/env bash
# Benchmarks of the 16 MiB N64 dump on cartsim, five runs each, medians in a table:
#   - n64dump's wall time, CPU time (user + sys) and peak memory on a mount without delays;
#   - the floor: bench/protocol_floor, only the protocol's file operations for the same commands;
#   - n64dump on a link as slow as full-speed USB (--bytes-per-sec 1200000 --latency-us 1000),
#     against the link's own time for the bytes and commands that cartsim counted; the floor on
#     the same link beside it, since no host can do better than the floor there either.
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
mkdir -p "$bench/work"
show_as_removable_volume "$bench/host" "$bench/drive" || exit 1

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Runs n64dump once on the mount, in a working directory without an earlier dump as a user's
# first run; appends "wall cpu peak_kib" to the named file. The wall time is taken to the
# microsecond (time(1) gives hundredths only).
dump_once() {
  local start=$EPOCHREALTIME end
  (cd "$bench/work" && env "${volume_overrides[@]}" /usr/bin/time -f '%U %S %M' -o "$bench/time" \
    "$repo_root/build/bin/n64dump" </dev/null >/dev/null) || { echo "bench: n64dump failed"; return 1; }
  end=$EPOCHREALTIME
  cmp -s "$bench/cartridge.z64" "$bench/work/Dump16M.n64" || { echo "bench: the dump differs"; return 1; }
  rm -f "$bench/work/Dump16M.n64"
  awk -v s="$start" -v e="$end" '{ printf "%.3f %.3f %s\n", e - s, $1 + $2, $3 }' "$bench/time" >>"$1"
}

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
echo
echo "n64dump / floor: $(awk -v a="$fast_wall" -v b="$floor" 'BEGIN { printf "%.3f", a / b }')"
