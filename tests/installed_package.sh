#!/usr/bin/env bash
# The native build's Debian package, as a user gets it: made with cpack, unpacked with dpkg -x into a
# scratch root, its programs run from there. One step per CTest test (label package):
#   installed_package.sh BUILD_DIR STEP
#   pack     cpack -G DEB into BUILD_DIR/package_check/cpack, unpacked into BUILD_DIR/package_check/root
#            (the fixture of the steps below)
#   control  its fields: the package, its version (the build's, in Debian's form), the libraries it
#            depends on (the hidapi hidraw library, libgcrypt, libfuse3 where cartsim is built),
#            mupen64plus-data suggested, the postinst that loads the udev rule
#   files    what it installs, and what cmake --install puts under DESTDIR: the same files, the
#            programs in bin/, README and LICENSE in share/doc/cartdump, the udev rule for the
#            reader's HID interface in lib/udev/rules.d
#   version  the installed n64dump --version: the project's version from CMake (and git describe
#            when built from a git tree), and the package's version made of it
#   info     the installed testrom writes an image; the installed n64dump --info reports on it,
#            exactly as the build's own n64dump does
# Exits 0 when the step's checks hold, 1 when one fails, 77 (a skip) when the package could not be
# made for want of dpkg-shlibdeps (Debian's dpkg-dev), or the pack step did not run.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR pack|control|files|version|info" >&2
  exit 2
fi
build=$(realpath "$1")
step=$2
scratch=$build/package_check
root=$scratch/root
deb_file=$scratch/package.deb

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
# expect_equal WHAT GOT WANT
expect_equal() {
  if [ "$2" == "$3" ]; then ok "$1"; else fail "$1: got '$2', want '$3'"; fi
}
finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
  exit 0
}
need_package() {
  [ -f "$deb_file" ] && [ -d "$root" ] || { echo "SKIPPED: no package: the pack step did not make one"; exit 77; }
}
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

# What a Linux package and a cmake --install hold, below their prefix /usr, sorted.
expected_files() {
  {
    echo usr/bin/n64dump
    echo usr/bin/testrom
    [ -x "$build/bin/cartsim" ] && echo usr/bin/cartsim
    echo usr/lib/udev/rules.d/70-cartdump.rules
    echo usr/share/doc/cartdump/LICENSE
    echo usr/share/doc/cartdump/README.md
  } | LC_ALL=C sort
}
files_below() { (cd "$1" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort); }

case $step in
  pack)
    command -v dpkg-shlibdeps >/dev/null || { echo "SKIPPED: no dpkg-shlibdeps (Debian's dpkg-dev)"; exit 77; }
    rm -rf "$scratch"
    mkdir -p "$scratch"
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/cpack" >"$scratch/cpack.log" 2>&1 ||
      { cat "$scratch/cpack.log"; echo "FAIL: cpack -G DEB"; exit 1; }
    made=("$scratch"/cpack/cartdump_*.deb)
    [ -f "${made[0]}" ] || { cat "$scratch/cpack.log"; echo "FAIL: cpack made no cartdump_*.deb"; exit 1; }
    expect_equal "one package made" "${#made[@]}" 1
    mv "${made[0]}" "$deb_file"
    dpkg -x "$deb_file" "$root" || fail "dpkg -x"
    finish
    ;;

  control)
    need_package
    expect_equal "Package" "$(dpkg-deb -f "$deb_file" Package)" cartdump
    expect_equal "Suggests" "$(dpkg-deb -f "$deb_file" Suggests)" mupen64plus-data
    depends=$(dpkg-deb -f "$deb_file" Depends)
    libraries=(libhidapi-hidraw0 libgcrypt20)
    [ -x "$build/bin/cartsim" ] && libraries+=(libfuse3-3)
    for library in "${libraries[@]}"; do
      if [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]]; then
        ok "depends on $library"
      else
        fail "Depends ($depends) names no $library"
      fi
    done
    control=$scratch/control
    rm -rf "$control"
    dpkg-deb -e "$deb_file" "$control" || fail "dpkg-deb -e"
    if [ -x "$control/postinst" ] && grep -q 'udevadm control --reload-rules' "$control/postinst"; then
      ok "the postinst loads the udev rule"
    else
      fail "no executable postinst that loads the udev rule"
    fi
    finish
    ;;

  files)
    need_package
    want=$(expected_files)
    expect_equal "the package's files" "$(files_below "$root")" "$want"
    destdir=$scratch/destdir
    rm -rf "$destdir"
    DESTDIR=$destdir cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 || fail "cmake --install"
    expect_equal "what cmake --install puts under DESTDIR" "$(files_below "$destdir")" "$want"
    rule=$root/usr/lib/udev/rules.d/70-cartdump.rules
    line=$(grep -v '^#' "$rule" | grep .)
    for part in 'SUBSYSTEM=="hidraw"' 'ATTRS{idVendor}=="0483"' 'ATTRS{idProduct}=="5750"' 'TAG+="uaccess"' \
      'GROUP="plugdev"' 'MODE="0660"'; do
      if [[ $line == *"$part"* ]]; then ok "the udev rule has $part"; else fail "the udev rule has no $part: $line"; fi
    done
    cmp -s "$root/usr/share/doc/cartdump/LICENSE" "$(cache_value CMAKE_HOME_DIRECTORY)/LICENSE" ||
      fail "the installed LICENSE is not the project's"
    finish
    ;;

  version)
    need_package
    out=$("$root/usr/bin/n64dump" --version)
    status=$?
    expect_equal "n64dump --version exits" "$status" 0
    project=$(cache_value CMAKE_PROJECT_VERSION)
    package=$(dpkg-deb -f "$deb_file" Version)
    if [[ $out =~ ^n64dump\ ([^ ]+)\ \(git\ ([^ ]+)\)$ ]]; then
      expect_equal "the project's version" "${BASH_REMATCH[1]}" "$project"
      describe=${BASH_REMATCH[2]}
      expect_equal "the package's version is the program's" "$package" "$project+git.${describe//[^A-Za-z0-9.+~]/.}"
    elif [[ $out =~ ^n64dump\ ([^ ]+)$ ]]; then
      expect_equal "the project's version (no git tree)" "${BASH_REMATCH[1]}" "$project"
      expect_equal "the package's version is the program's" "$package" "$project"
    else
      fail "n64dump --version printed '$out'"
    fi
    finish
    ;;

  info)
    need_package
    work=$scratch/info
    rm -rf "$work"
    mkdir -p "$work"
    : >"$work/empty.ini"
    "$root/usr/bin/testrom" --seed 16 --size 2M --order byteswapped --cic 6102 -o "$work/cart.v64" ||
      fail "the installed testrom"
    for format in --json ""; do
      args=(--info "$work/cart.v64" --catalogue "$work/empty.ini" $format)
      installed=$("$root/usr/bin/n64dump" "${args[@]}")
      status=$?
      expect_equal "the installed n64dump --info ${format:-(text)} exits" "$status" 0
      expect_equal "it reports as the build's own n64dump does" "$installed" "$("$build/bin/n64dump" "${args[@]}")"
    done
    report=$("$root/usr/bin/n64dump" --info "$work/cart.v64" --catalogue "$work/empty.ini" --json)
    facts=$(python3 -c 'import json, sys; r = json.load(sys.stdin)
print(r["size"], r["byte_order"], r["checksum_ok"], r["checksum_family"])' <<<"$report")
    expect_equal "the report on the image" "$facts" "2097152 byteswapped True 6102"
    finish
    ;;

  *)
    echo "unknown step $step" >&2
    exit 2
    ;;
esac
