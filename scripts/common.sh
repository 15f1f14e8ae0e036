# Shared by the scripts: the repository root, and the Debian packages the project builds with.
# Sourced, not run.

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The packages the native build, the tests and the simulator need.
base_packages=(cmake ninja-build g++ googletest pkg-config libfuse3-dev fuse3 libhidapi-dev)
# The Windows cross build and Wine, which runs its tests.
windows_packages=(g++-mingw-w64-x86-64 wine64)

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

# Undoes every cartsim mount below the repository: the e2e tests mount cartsim inside their build
# directory, and a test killed before its teardown (a time-out, an interrupt) leaves its mount
# behind. Its cartsim then sees the mount gone and exits by itself.
undo_cartsim_mounts() {
  local mount_point
  awk -v root="$repo_root/" '$3 == "fuse.cartsim" && index($2, root) == 1 { print $2 }' /proc/self/mounts 2>/dev/null |
    while read -r mount_point; do
      if umount -l "$mount_point" 2>/dev/null || fusermount3 -u -z "$mount_point" 2>/dev/null; then
        echo "undid a cartsim mount left at $mount_point"
      else
        echo "could not undo the cartsim mount at $mount_point" >&2
      fi
    done
}

# Configures and builds one build directory: configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$repo_root" -B "$repo_root/$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$repo_root/$dir"
}
