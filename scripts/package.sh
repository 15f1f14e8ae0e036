#!/usr/bin/env bash
# Builds the two packages and leaves them in dist/:
#   scripts/package.sh
#   dist/cartdump_<version>_<arch>.deb     the native build, cpack -G DEB
#   dist/cartdump-<version>-win64.zip      the MinGW-w64 cross build, cpack -G ZIP
# Installs what is missing (Debian 12), then builds each in a Release tree of its own without the
# tests (build-pkg/, build-pkg-win/), so that the test trees keep their settings. The version is
# the one the build stamps (cmake/version.cmake); the packages of an earlier run are replaced.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"

ensure_packages "${base_packages[@]}" "${package_packages[@]}" "${windows_packages[@]}"

package_options=(-DCMAKE_BUILD_TYPE=Release -DCARTDUMP_TESTS=OFF)

# Builds a tree and makes its package with the given generator; prints the package's path.
#   build_package DIR GENERATOR PATTERN [cmake options...]
build_package() {
  local dir=$1 generator=$2 pattern=$3
  shift 3
  echo "== $dir: building" >&2
  configure_and_build "$dir" "${package_options[@]}" "$@" >&2
  echo "== $dir: cpack -G $generator" >&2
  rm -rf "$repo_root/$dir/packages"
  cpack --config "$repo_root/$dir/CPackConfig.cmake" -G "$generator" -B "$repo_root/$dir/packages" >&2
  local made=("$repo_root/$dir/packages"/$pattern)
  [ -f "${made[0]}" ] || { echo "cpack made no $pattern in $dir/packages" >&2; return 1; }
  echo "${made[0]}"
}

deb=$(build_package build-pkg DEB 'cartdump_*.deb')
zip=$(build_package build-pkg-win ZIP 'cartdump-*-win64.zip' \
  -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-w64-x86_64.cmake")

mkdir -p dist
rm -f dist/cartdump_*.deb dist/cartdump-*-win64.zip
cp "$deb" "$zip" dist/
echo "== dist/"
ls -l dist/
