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

# Configures and builds one build directory: configure_and_build DIR [cmake options...]
configure_and_build() {
  local dir=$1
  shift
  cmake -S "$repo_root" -B "$repo_root/$dir" -G Ninja "$@" >/dev/null &&
    cmake --build "$repo_root/$dir"
}
