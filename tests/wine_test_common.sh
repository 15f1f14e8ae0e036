# Shared by the end-to-end tests of the Windows build under Wine; sourced by a script that takes
#   N64DUMP_EXE HOST_BIN WORK_DIR
# (the cross-built n64dump.exe, the native build's bin/ directory, the cross build's directory).
# Sets exe, host_bin, work, wine_run and wine_dir; skips the test (exit 77) where Wine or one of
# the native programs the script names in host_programs is missing. fail counts a failure in
# failures.
set -uo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 N64DUMP_EXE HOST_BIN WORK_DIR" >&2
  exit 2
fi
exe=$(realpath "$1")
host_bin=$(realpath -m "$2")
work=$(realpath "$3")
wine_run=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-run.sh")
wine_dir=${CARTDUMP_WINE_DIR:-/usr/lib/wine}

skip() {
  echo "SKIPPED: $*"
  exit 77
}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

[ -x "$wine_dir/wine64" ] || skip "no Wine at $wine_dir (Debian's wine64)"
for program in "${host_programs[@]}"; do
  [ -x "$host_bin/$program" ] || skip "no native $program in $host_bin: build the native tree first (scripts/test.sh does)"
done
[ -f "$exe" ] || { echo "FAIL: no $exe"; exit 1; }
