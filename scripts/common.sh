# Shared by the scripts: the repository root, and the Debian packages the project builds with.
# Sourced, not run.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The native build's programs that the helpers below run (cartsim, host_volumes). A script that
# takes them from elsewhere sets it after sourcing.
native_bin=$repo_root/build/bin

# The packages the native build, the tests and the simulator need: n64dump's options (CLI11), its
# JSON report (nlohmann-json) and image hashes (libgcrypt), the cartridge catalogue its tests read
# (mupen64plus-data), and python3, which writes the checksum's test vectors.
base_packages=(cmake ninja-build g++ googletest pkg-config libfuse3-dev fuse3 libhidapi-dev
  libcli11-dev nlohmann-json3-dev libgcrypt20-dev mupen64plus-data python3)
# The Windows cross build and Wine, which runs its tests; libgcrypt built for MinGW, linked
# statically (CLI11 and nlohmann-json are header-only and come from the base packages).
windows_packages=(g++-mingw-w64-x86-64 wine64 libgcrypt-mingw-w64-dev)
# The packages (scripts/package.sh, the package stage of scripts/test.sh): dpkg-shlibdeps, which
# reads the Debian package's dependencies off the programs.
package_packages=(dpkg-dev)
# The fuzz build: clang with libFuzzer and the sanitizers' runtimes.
fuzz_packages=(clang libclang-rt-dev)
fuzz_cmake_options=(-DCARTDUMP_FUZZ=ON -DCARTDUMP_TESTS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

# Installs whichever of the given packages are missing; skips apt entirely when all are present.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq &&
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Undoes every cartsim mount below ROOT (the repository when none is given): the e2e tests mount
# cartsim inside their build directory, and a test killed before its teardown (a time-out, an
# interrupt) leaves its mount behind. Its cartsim then sees the mount gone and exits by itself. The
# mounts of the tests' failing folder (closefail) are undone alike.
# Returns non-zero when a mount could not be undone.
#   undo_cartsim_mounts [ROOT]
undo_cartsim_mounts() {
  local root=${1:-$repo_root} mount_point status=0
  while read -r mount_point; do
    if umount -l "$mount_point" 2>/dev/null || fusermount3 -u -z "$mount_point" 2>/dev/null; then
      echo "undid a cartsim mount left at $mount_point"
    else
      echo "could not undo the cartsim mount at $mount_point" >&2
      status=1
    fi
  done < <(awk -v root="${root%/}/" '($3 == "fuse.cartsim" || $3 == "fuse.closefail") && index($2, root) == 1 { print $2 }' /proc/self/mounts 2>/dev/null)
  return $status
}

# Configures and builds one build directory: configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$repo_root" -B "$repo_root/$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$repo_root/$dir"
}

# Writes the host's volumes as the tool's Linux volume walk reads them, with the native build's
# host_volumes (tests/support/host_volumes_tool.cpp, which the tests' own tables come from too):
# DIR/mountinfo lists the volumes in the order given, and the sysfs tree DIR/sys makes each a
# partition of a fixed disk or of a USB stick whose disk has removable = 1. Sets volume_overrides
# to the walk's two overrides, NAME=VALUE words for env(1).
#   write_host_volumes DIR [--fixed MOUNT_POINT | --removable MOUNT_POINT]...
write_host_volumes() {
  local tool=$native_bin/host_volumes text
  if [ ! -x "$tool" ]; then
    echo "no $tool: build the native tree with its tests (CARTDUMP_TESTS=ON)" >&2
    return 1
  fi
  text=$("$tool" "$@") || return 1
  mapfile -t volume_overrides <<<"$text"
}

# Shows a directory to the tool's Linux volume walk as a removable volume, behind a fixed one.
#   show_as_removable_volume DIR MOUNT_POINT
show_as_removable_volume() {
  write_host_volumes "$1" --fixed / --removable "$2"
}

# Starts cartsim in the background on MOUNT_POINT and waits until it answers; sets cartsim_pid.
#   start_cartsim MOUNT_POINT READY_FILE STDERR_FILE [cartsim options...]
start_cartsim() {
  local mount_point=$1 ready=$2 errors=$3
  shift 3
  mkdir -p "$mount_point"
  rm -f "$ready"
  "$native_bin/cartsim" "$mount_point" --ready-file "$ready" "$@" 2>"$errors" &
  cartsim_pid=$!
  local i
  for i in $(seq 100); do
    [ -e "$ready" ] && return 0
    kill -0 "$cartsim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "cartsim did not come up:" >&2
  cat "$errors" >&2
  return 1
}

# Stops the cartsim started by start_cartsim and waits for its end (its mount is then gone); one
# that has not ended 10 seconds after SIGTERM is killed.
stop_cartsim() {
  [ -n "${cartsim_pid:-}" ] || return 0
  kill -TERM "$cartsim_pid" 2>/dev/null
  local waited=0
  while kill -0 "$cartsim_pid" 2>/dev/null && [ $waited -lt 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -KILL "$cartsim_pid" 2>/dev/null
  wait "$cartsim_pid" 2>/dev/null
  cartsim_pid=
}
