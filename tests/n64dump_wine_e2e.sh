#!/usr/bin/env bash
# n64dump.exe end to end under Wine, against cartsim:
#   n64dump_wine_e2e.sh N64DUMP_EXE HOST_BIN WORK_DIR
# HOST_BIN holds the native build's cartsim, testrom, n64dump and host_volumes; WORK_DIR (the
# cross build's directory) receives the temporary directory of the run and the Wine prefix of this
# test. cartsim is started and stopped, and the native run's volume tables written, by the helpers
# of scripts/common.sh, pointed at HOST_BIN.
#
# cartsim plays the device's drive on a temporary directory, mounted with --direct-io: Wine does
# not bypass Linux's page cache for unbuffered reads, so every read has to reach cartsim. The
# mount is the prefix's drive E: (dosdevices/e: links to it), typed removable by the registry
# value HKLM\Software\Wine\Drives "e:" = "floppy", so that GetDriveTypeA answers DRIVE_REMOVABLE.
# Wine's mount manager reads drives and their types when the prefix's server starts, so the
# prefix is one of this test's own, its server restarted after each change; the prefix that the
# other tests share keeps its server running and never sees drive E:.
#
# Drive D: is a removable drive without a medium, a floppy drive whose link leads nowhere, ahead
# of E: in the walk, which must pass over it (without a dialog: the walk sets
# SEM_FAILCRITICALERRORS while it probes).
#
# Checked:
#   - n64dump.exe --devices --json lists D: as removable without an identity block and E: as the
#     reader with its name, chooses E:, exits 0, and sends cartsim not one command sector;
#   - n64dump.exe, run in an empty working directory with standard input at its end, finds the
#     drive by itself, dumps a 16 MiB image byte-identical to the cartridge (replacing an older
#     file of the same name) and exits 0;
#   - its standard output (not a console, so plain text) is byte for byte the transcript of the
#     native build run against the same mount, and the transcript expected of the run;
#   - on a slow link (cartsim --latency-us), a second n64dump.exe started while a first one dumps
#     finds the reader's mutex taken: it prints "The reader at E:\ is in use by another n64dump
#     run." and the key prompt, exits 1 and sends no command (cartsim's log holds the first run's
#     2051 commands alone), while the first writes the exact image;
#   - SIGINT to the Wine process of a dumping n64dump.exe, which Wine delivers as a console control
#     event (CTRL_C_EVENT), ends the run with "Interrupted." and status 1, no partial file and the
#     earlier image kept (the console's closing, which Wine cannot send, is handed to the handler
#     directly by tests/interrupt_win32_test.cpp);
#   - with no device (no drive E:) it prints "Open device error." and the key prompt, as the
#     native build does, creates no image and exits 1.
# Under Wine the HID enumeration finds no device, so both runs also take the HID step that finds
# nothing before the drive walk.
#
# Exits 0 when all holds, 77 (a skip) where Wine, FUSE or the native programs are missing, 1 on a
# failure. The mount is undone and drive E: removed on every way out.
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"
host_programs=(cartsim testrom n64dump host_volumes)
source "$(dirname "${BASH_SOURCE[0]}")/wine_test_common.sh"
# common.sh's cartsim and host_volumes are the native build's given here.
native_bin=$host_bin
[ -c /dev/fuse ] || skip "no /dev/fuse: cartsim cannot mount"
[ "$(id -u)" -eq 0 ] || command -v fusermount3 >/dev/null || skip "neither root nor fusermount3: cartsim cannot mount"

readonly image_size=16777216
readonly device_name="WINE E2E READER"
readonly prefix="$work/wineprefix-drive"

tmp=$(mktemp -d "$work/n64dump_wine_e2e.XXXXXX") || exit 1

remove_drives() { rm -f "$prefix/dosdevices/d:" "$prefix/dosdevices/e:"; }

cleanup() {
  remove_drives
  # Nothing of this prefix outlives the test.
  [ -f "$prefix/.ready" ] && "$wine_run" "$prefix" --release
  stop_cartsim
  # A mount left behind keeps the directory, so that nothing is removed through it.
  undo_cartsim_mounts "$tmp" && rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Shows where two transcripts part, with the bytes made visible.
show_difference() {
  cmp "$1" "$2" | head -n 1
  local at
  at=$(cmp "$1" "$2" 2>/dev/null | sed -nE 's/.* byte ([0-9]+),.*/\1/p')
  [ -n "$at" ] || at=1
  local from=$((at > 40 ? at - 40 : 1))
  echo "  $1: $(tail -c +"$from" "$1" | head -c 120 | od -An -c | tr -s ' ' | tr -d '\n')"
  echo "  $2: $(tail -c +"$from" "$2" | head -c 120 | od -An -c | tr -s ' ' | tr -d '\n')"
}

expect_same_file() {
  local what=$1 got=$2 want=$3
  if cmp -s "$got" "$want"; then
    echo "ok: $what"
  else
    fail "$what"
    show_difference "$got" "$want"
  fi
}

expect_status() {
  local what=$1 got=$2 want=$3
  if [ "$got" -eq "$want" ]; then
    echo "ok: $what exits $want"
  else
    fail "$what exits $got, not $want"
  fi
}

# Makes a drive letter of the prefix a link to a directory, typed removable (a floppy drive).
removable_drive() {
  local letter=$1 target=$2
  ln -s "$target" "$prefix/dosdevices/$letter:"
  "$wine_run" "$prefix" reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d floppy /f >/dev/null ||
    { fail "the registry value for drive ${letter^^}: could not be set"; return 1; }
}

# The prefix of this test with its drives as they should be, and its server restarted, so that the
# mount manager reads the drives anew: D: a removable drive without a medium, and with an
# argument, E: a removable drive linked there.
set_drives() {
  remove_drives
  removable_drive d "$tmp/no-medium" || return 1
  if [ $# -eq 1 ]; then
    removable_drive e "$1" || return 1
  fi
  "$wine_run" "$prefix" --release
}

# Waits until cartsim's log holds at least count commands (20 s at most).
wait_for_commands() {
  local log=$1 count=$2 i
  for i in $(seq 200); do
    [ "$(wc -l <"$log")" -ge "$count" ] && return 0
    sleep 0.1
  done
  return 1
}

# The process named NAME among the descendants of the process PID (the Wine process of a Windows
# program carries the program's name).
process_below() {
  local pid=$1 name=$2 child found
  for child in $(pgrep -P "$pid"); do
    if [ "$(cat "/proc/$child/comm" 2>/dev/null)" = "$name" ]; then
      echo "$child"
      return 0
    fi
    found=$(process_below "$child" "$name") && { echo "$found"; return 0; }
  done
  return 1
}

# Runs n64dump.exe in a directory with standard input at its end, with any arguments given; its
# stdout into a file.
run_windows() {
  local dir=$1
  shift
  (cd "$dir" && "$wine_run" "$prefix" "$exe" "$@" </dev/null >"$dir.out" 2>"$dir.err")
}

# Runs the native n64dump in a directory, its volume walk shown a fixed volume and behind it the
# given mount as a removable one, or the fixed volume alone when the mount is "".
run_linux() {
  local dir=$1 mount=$2
  local volumes=(--fixed /)
  [ -n "$mount" ] && volumes+=(--removable "$mount")
  write_host_volumes "$tmp/host" "${volumes[@]}" || { fail "the volume tables could not be written"; return 1; }
  (cd "$dir" && env "${volume_overrides[@]}" "$native_bin/n64dump" </dev/null >"$dir.out" 2>"$dir.err")
}

echo "== the Wine prefix of this test: $prefix"
"$wine_run" "$prefix" || { echo "FAIL: the Wine prefix could not be created"; exit 1; }

echo "== cartsim with a 16 MiB cartridge, byte-swapped, on $tmp/mnt"
mkdir -p "$tmp/mnt" "$tmp/win" "$tmp/linux" "$tmp/win-nodevice" "$tmp/linux-nodevice" "$tmp/win-devices"
"$native_bin/testrom" --seed 64 --size 16M --order byteswapped -o "$tmp/cart.v64" || { echo "FAIL: testrom"; exit 1; }
start_cartsim "$tmp/mnt" "$tmp/ready" "$tmp/cartsim.err" --rom "$tmp/cart.v64" --direct-io --name "$device_name" \
  --log "$tmp/cartsim.log" 2>&1 || { echo "FAIL: cartsim did not mount"; exit 1; }

# The transcript of a whole run: header bytes as the cartridge holds them, a progress text per
# 8192-byte chunk, each ending in a carriage return, and the last notice without a line break.
{
  printf 'Device: %s\n' "$device_name"
  printf '37804012\n'
  printf 'Start dump....\n'
  for ((done_bytes = 8192; done_bytes <= image_size; done_bytes += 8192)); do
    printf '%d/%d\r' "$done_bytes" "$image_size"
  done
  printf '\nWrite rom to file Dump16M.n64(%dbytes).' "$image_size"
} >"$tmp/expected.out"

echo "== n64dump.exe --devices with an empty removable drive at D: and the device at E:"
set_drives "$tmp/mnt" || exit 1
run_windows "$tmp/win-devices" --devices --json
expect_status "n64dump.exe --devices" $? 0
if python3 - "$tmp/win-devices.out" "$device_name" <<'CHECK'; then
import json, sys
survey = json.load(open(sys.argv[1]))
volumes = [(v["root"], v["removable"], v["reader"], v["name"]) for v in survey["volumes"]]
want_d, want_e = ("D:\\", True, False, None), ("E:\\", True, True, sys.argv[2])
problems = []
if want_d not in volumes or want_e not in volumes or volumes.index(want_d) > volumes.index(want_e):
    problems.append("volumes %r lack %r then %r" % (volumes, want_d, want_e))
if survey["chosen"] != "E:\\":
    problems.append("chosen %r" % survey["chosen"])
if survey["hid"] != []:
    problems.append("hid %r" % survey["hid"])
print("\n".join(problems))
sys.exit(1 if problems else 0)
CHECK
  echo "ok: the walk passes over the empty removable D: and chooses E:"
else
  fail "n64dump.exe --devices --json: $(head -c 600 "$tmp/win-devices.out")"
fi
if [ -s "$tmp/cartsim.log" ]; then
  fail "--devices sent cartsim commands: $(head -n 3 "$tmp/cartsim.log")"
else
  echo "ok: --devices sent cartsim no command"
fi

echo "== n64dump.exe with the device at E:"
# An older image of the same name is replaced.
head -c 1000 /dev/urandom >"$tmp/win/Dump16M.n64"
started=$SECONDS
run_windows "$tmp/win"
status=$?
echo "   took $((SECONDS - started)) s"
expect_status "n64dump.exe" "$status" 0
expect_same_file "the image of n64dump.exe is the cartridge" "$tmp/win/Dump16M.n64" "$tmp/cart.v64"
expect_same_file "the transcript of n64dump.exe is the run's" "$tmp/win.out" "$tmp/expected.out"
if [ -s "$tmp/win.err" ]; then
  echo "   (its stderr: $(head -c 400 "$tmp/win.err"))"
fi

echo "== native n64dump with the device"
run_linux "$tmp/linux" "$tmp/mnt"
expect_status "native n64dump" $? 0
expect_same_file "the native image is the cartridge" "$tmp/linux/Dump16M.n64" "$tmp/cart.v64"
expect_same_file "n64dump.exe prints what the native build prints" "$tmp/win.out" "$tmp/linux.out"

echo "== a slow link: two runs on one reader, and a run interrupted by a console control event"
# The same drive E:, now on a link where every command costs 2 ms: a dump lasts some 4 s.
stop_cartsim
start_cartsim "$tmp/mnt" "$tmp/ready" "$tmp/cartsim-slow.err" --rom "$tmp/cart.v64" --direct-io \
  --name "$device_name" --latency-us 2000 --log "$tmp/cartsim-slow.log" 2>&1 || { echo "FAIL: cartsim did not mount"; exit 1; }
mkdir -p "$tmp/first" "$tmp/second" "$tmp/interrupted"

# The first run holds the reader; a second process started meanwhile finds its mutex taken, says
# so, sends no command and takes the failure path.
run_windows "$tmp/first" &
first=$!
wait_for_commands "$tmp/cartsim-slow.log" 50 || fail "the first run did not start dumping"
run_windows "$tmp/second"
expect_status "a second n64dump.exe on the same reader" $? 1
printf 'The reader at E:\\ is in use by another n64dump run.\nPlease press any key to exit...\n' >"$tmp/busy.expected"
expect_same_file "the second run says the reader is busy" "$tmp/second.out" "$tmp/busy.expected"
wait "$first"
expect_status "the first n64dump.exe" $? 0
expect_same_file "the first run's image is the cartridge" "$tmp/first/Dump16M.n64" "$tmp/cart.v64"
commands=$(wc -l <"$tmp/cartsim-slow.log")
[ "$commands" -eq 2051 ] && echo "ok: cartsim took one run's 2051 commands" ||
  fail "cartsim took $commands commands, not one run's 2051"

# Wine turns SIGINT into a console control event (CTRL_C_EVENT) for the program: its handler
# records it, the dump stops between two requests, removes its partial file, keeps the earlier
# image and prints "Interrupted.".
head -c 1000 /dev/urandom >"$tmp/interrupted/Dump16M.n64"
cp "$tmp/interrupted/Dump16M.n64" "$tmp/earlier"
: >"$tmp/cartsim-slow.log"
run_windows "$tmp/interrupted" &
runner=$!
wait_for_commands "$tmp/cartsim-slow.log" 200 || fail "the run to interrupt did not start dumping"
program=$(process_below "$runner" n64dump.exe)
[ -n "$program" ] && kill -INT "$program" || fail "n64dump.exe was not found below the job $runner"
wait "$runner"
expect_status "n64dump.exe after a control event" $? 1
if [ "$(tail -c 13 "$tmp/interrupted.out")" = "Interrupted." ]; then
  echo "ok: the interrupted run says so"
else
  fail "the interrupted run ends in: $(tail -c 120 "$tmp/interrupted.out" | od -An -c | tr -s ' ' | tr -d '\n')"
fi
expect_same_file "the earlier image is kept" "$tmp/interrupted/Dump16M.n64" "$tmp/earlier"
leftover=$(find "$tmp/interrupted" -name '*.part')
[ -z "$leftover" ] && echo "ok: no partial file is left" || fail "partial files left: $leftover"
stop_cartsim

echo "== no device (D: still there, empty)"
set_drives || exit 1
run_windows "$tmp/win-nodevice"
expect_status "n64dump.exe without a device" $? 1
printf 'Open device error.\nPlease press any key to exit...\n' >"$tmp/nodevice.expected"
expect_same_file "n64dump.exe without a device says so" "$tmp/win-nodevice.out" "$tmp/nodevice.expected"
run_linux "$tmp/linux-nodevice" ""
expect_status "native n64dump without a device" $? 1
expect_same_file "both builds say the same without a device" "$tmp/win-nodevice.out" "$tmp/linux-nodevice.out"
if [ -e "$tmp/win-nodevice/Dump16M.n64" ]; then
  fail "n64dump.exe without a device left an image"
fi

if [ "$failures" -ne 0 ]; then
  echo "cartsim's log, first lines:"
  head -n 5 "$tmp/cartsim.log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
