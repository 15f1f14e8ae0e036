#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]   runs the program; its exit status is the script's
#   wine-run.sh PREFIX                     only creates the prefix
#   wine-run.sh PREFIX --hold              keeps the prefix's Wine server running until --release
#   wine-run.sh PREFIX --release           ends it
# The prefix is created on first use, with no display and no question asked. The build's
# toolchain file (cmake/mingw-w64-x86_64.cmake) runs every test program through this script.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PREFIX [PROGRAM [ARGS...] | --hold | --release]" >&2; exit 2; }
# Wine takes only an absolute prefix.
prefix=$(realpath -m -- "$1")
shift

wine_dir=${CARTDUMP_WINE_DIR:-/usr/lib/wine}
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer (each would ask in a dialog), no desktop menu entries, no windows.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$prefix/.ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  # Test programs start in parallel: one of them creates the prefix, the others wait for it.
  (
    flock 9
    if [ ! -f "$prefix/.ready" ]; then
      rm -rf "$prefix"
      "$wine_dir/wine64" wineboot --init </dev/null >/dev/null 2>&1
      # The registry reaches the disk when the prefix's server ends.
      "$wine_dir/wineserver" -w
      touch "$prefix/.ready"
    fi
  ) 9>"$prefix.lock"
fi

case "${1:-}" in
  "") exit 0 ;;
  --hold)
    # Without a held server, Wine ends its own background processes a second after the last
    # program and starts them again for the next one, which costs seconds per program.
    exec "$wine_dir/wineserver" -p </dev/null >/dev/null 2>&1 ;;
  --release)
    "$wine_dir/wineserver" -k 2>/dev/null || true
    exec "$wine_dir/wineserver" -w ;;
esac

if [ -t 1 ]; then
  exec "$wine_dir/wine64" "$@"
fi
# The first program after the server starts also starts Wine's background processes, which
# inherit its output and outlive it; a caller that reads the output to its end (ctest) would wait
# for them. So the program writes into files, passed on once the program has ended.
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
status=0
"$wine_dir/wine64" "$@" >"$out" 2>"$err" || status=$?
cat "$out"
cat "$err" >&2
exit $status
