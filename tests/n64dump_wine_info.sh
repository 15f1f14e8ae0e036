#!/usr/bin/env bash
# n64dump.exe's extended runs on image files under Wine (no device needed):
#   n64dump_wine_info.sh N64DUMP_EXE HOST_BIN WORK_DIR
# HOST_BIN holds the native build's testrom and n64dump; WORK_DIR (the cross build's directory)
# holds the Wine prefix the tests share and receives the temporary directory of the run.
#
# Checked:
#   - n64dump.exe needs no DLL beyond Windows' own (libgcrypt and the C++ runtime linked in);
#   - --info --json on a byte-swapped testrom image, with a catalogue that lists it, prints exactly
#     what the native n64dump prints, the JSON object alone, and exits 0; so does the human report;
#   - a bit flipped inside the checksummed megabyte exits 3 on both;
#   - without --catalogue, "mupen64plus.ini" beside the executable is the catalogue; without one
#     there, the report says so and the run carries on;
#   - a usage error exits 2 with the message and the usage on stderr; a missing file exits 1.
# Exits 0 when all holds, 77 (a skip) where Wine or the native programs are missing, 1 on a failure.
host_programs=(testrom n64dump)
source "$(dirname "$0")/wine_test_common.sh"
prefix=$work/wineprefix

tmp=$(mktemp -d "$work/n64dump_wine_info.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT

check() {
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}

# Runs n64dump.exe (or the executable given by EXE) in $tmp: its stdout, stderr and status in
# $tmp/win.out, $tmp/win.err, $tmp/win.status.
run_windows() {
  (cd "$tmp" && "$wine_run" "$prefix" "${EXE:-$exe}" "$@" </dev/null >"$tmp/win.out" 2>"$tmp/win.err")
  echo $? >"$tmp/win.status"
}
run_linux() {
  (cd "$tmp" && "$host_bin/n64dump" "$@" </dev/null >"$tmp/linux.out" 2>"$tmp/linux.err")
  echo $? >"$tmp/linux.status"
}
status_is() { [ "$(cat "$tmp/$1.status")" = "$2" ] || { echo "   $1 exited $(cat "$tmp/$1.status"), not $2"; false; }; }

echo "== the DLLs n64dump.exe imports"
objdump=$(command -v x86_64-w64-mingw32-objdump)
if [ -n "$objdump" ]; then
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  echo "   $(echo $dlls)"
  foreign=$(grep -v -x -E 'kernel32\.dll|msvcrt\.dll|user32\.dll|advapi32\.dll|hid\.dll|setupapi\.dll|ws2_32\.dll|api-ms-win-.*' <<<"$dlls")
  check "only Windows' own DLLs" [ -z "$foreign" ]
else
  fail "no x86_64-w64-mingw32-objdump to list the imports"
fi

echo "== the Wine prefix: $prefix"
"$wine_run" "$prefix" || { echo "FAIL: the Wine prefix could not be created"; exit 1; }

"$host_bin/testrom" --seed 77 --size 8M --order byteswapped --cic 6105 --title "WINE TEST" -o "$tmp/cart.v64" &&
  "$host_bin/testrom" --seed 77 --size 8M --order big --cic 6105 --title "WINE TEST" -o "$tmp/cart.z64" ||
  { echo "FAIL: testrom"; exit 1; }
md5=$(md5sum "$tmp/cart.z64" | cut -c1-32)
printf '; listed by its MD5\r\n[%s]\r\nGoodName=Wine Test (E) [!]\r\nSaveType=SRAM\r\n' "$md5" >"$tmp/cat.ini"

echo "== --info --json on a byte-swapped image"
run_windows --info cart.v64 --json --catalogue cat.ini
run_linux --info cart.v64 --json --catalogue cat.ini
check "n64dump.exe exits 0" status_is win 0
check "the JSON of n64dump.exe is the native one" cmp "$tmp/win.out" "$tmp/linux.out"
check "its MD5 is the big-order image's" grep -q "\"md5\": \"$md5\"" "$tmp/win.out"
check "the catalogue knows it" grep -q '"status": "verified"' "$tmp/win.out"
check "the output is one JSON object" python3 -c 'import json, sys; json.load(open(sys.argv[1]))' "$tmp/win.out"
check "nothing on stderr" [ ! -s "$tmp/win.err" ]

echo "== the human report"
run_windows --info cart.v64 --catalogue cat.ini
run_linux --info cart.v64 --catalogue cat.ini
check "n64dump.exe exits 0" status_is win 0
check "the report of n64dump.exe is the native one" cmp "$tmp/win.out" "$tmp/linux.out"
check "the checksum matches" grep -q '^Checksum   [0-9a-f]\{8\} [0-9a-f]\{8\} matches (6105/7105)$' "$tmp/win.out"

echo "== a bit flipped inside the checksummed megabyte"
python3 -c 'import sys; b = bytearray(open(sys.argv[1], "rb").read()); b[0x4321] ^= 8; open(sys.argv[2], "wb").write(b)' \
  "$tmp/cart.v64" "$tmp/damaged.v64"
run_windows --info damaged.v64 --json --catalogue cat.ini
run_linux --info damaged.v64 --json --catalogue cat.ini
check "n64dump.exe exits 3" status_is win 3
check "as the native one does, with the same JSON" cmp "$tmp/win.out" "$tmp/linux.out"

echo "== the catalogue beside the executable"
mkdir -p "$tmp/app"
cp "$exe" "$tmp/app/n64dump.exe"
cp "$tmp/cat.ini" "$tmp/app/mupen64plus.ini"
EXE="$tmp/app/n64dump.exe" run_windows --info cart.v64 --json
check "exits 0" status_is win 0
check "mupen64plus.ini beside it is the catalogue" grep -q '"name": "Wine Test (E) \[!\]"' "$tmp/win.out"
rm "$tmp/app/mupen64plus.ini"
EXE="$tmp/app/n64dump.exe" run_windows --info cart.v64
check "without it the run carries on" status_is win 0
check "and the report says so" grep -q '^Catalogue  none (.*mupen64plus\.ini: ' "$tmp/win.out"

echo "== errors"
run_windows --info cart.v64 --z64
check "a usage error exits 2" status_is win 2
check "with the message and the usage on stderr" grep -q '^Usage: n64dump \[OPTIONS\]' "$tmp/win.err"
check "and nothing on stdout" [ ! -s "$tmp/win.out" ]
run_windows --info missing.z64
check "a missing file exits 1" status_is win 1
check "saying so" grep -q '^Can not read missing.z64: ' "$tmp/win.out"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
