#!/usr/bin/env bash
# The main job on the simulated device: builds the tools, makes a 16 MiB test cartridge, mounts
# cartsim with it and shows the mount to the tool as a removable volume, runs n64dump in a fresh
# working directory as a user would, and compares Dump16M.n64 with the cartridge.
# Exits 0 only when the dump matches the cartridge byte for byte.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"

ensure_packages "${base_packages[@]}" || exit 1
echo "== building"
configure_and_build build >/dev/null || { echo "demo: the build failed"; exit 1; }

demo=$(mktemp -d "$repo_root/build/demo.XXXXXX")
cleanup() {
  stop_cartsim
  undo_cartsim_mounts >/dev/null
  rm -rf "$demo"
}
trap cleanup EXIT
mkdir -p "$demo/work"

echo "== a test cartridge: testrom --seed 64 --size 16M (big byte order)"
build/bin/testrom --seed 64 --size 16M --order big -o "$demo/cartridge.z64" || exit 1

echo "== cartsim: the reader with that cartridge, mounted at $demo/drive"
start_cartsim "$demo/drive" "$demo/ready" "$demo/cartsim.err" --rom "$demo/cartridge.z64" || exit 1
show_as_removable_volume "$demo/host" "$demo/drive" || exit 1
ls -l "$demo/drive"

echo "== n64dump, in a fresh working directory"
echo
(cd "$demo/work" && env "${volume_overrides[@]}" "$repo_root/build/bin/n64dump" </dev/null)
status=$?
echo
echo
echo "== n64dump ended with status $status"

if [ "$status" -eq 0 ] && cmp -s "$demo/cartridge.z64" "$demo/work/Dump16M.n64"; then
  echo "demo: Dump16M.n64 matches the cartridge byte for byte ($(stat -c %s "$demo/work/Dump16M.n64") bytes)"
  exit 0
fi
echo "demo: Dump16M.n64 does not match the cartridge"
exit 1
