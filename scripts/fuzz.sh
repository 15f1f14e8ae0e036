#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ in build-fuzz/ (clang with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer; installs clang when missing) and runs each for SECONDS from its seed
# corpus in fuzz/corpus/<target>/, one after the other, or only the targets named.
#   scripts/fuzz.sh SECONDS [TARGET...]
# Prints a line per target (runs, corpus size, outcome) and exits non-zero on any finding. Each run
# works in build-fuzz/fuzz-runs/<target>/: the grown corpus, the log and any finding stay there; the
# repository's corpus is not changed.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift

ensure_packages "${base_packages[@]}" "${fuzz_packages[@]}" || exit 1
configure_and_build build-fuzz "${fuzz_cmake_options[@]}" || exit 1

# The targets are those the configure step lists in build-fuzz/fuzz/targets.txt, one a line;
# without names, all of them.
mapfile -t known <build-fuzz/fuzz/targets.txt || exit 1
targets=("$@")
[ ${#targets[@]} -ne 0 ] || targets=("${known[@]}")

status=0
for target in "${targets[@]}"; do
  if ! printf '%s\n' "${known[@]}" | grep -qxF -- "$target" || [ ! -x "build-fuzz/bin/$target" ]; then
    echo "$target: no such fuzz target"
    status=1
    continue
  fi
  scripts/fuzz_target.sh "build-fuzz/bin/$target" "fuzz/corpus/$target" "build-fuzz/fuzz-runs/$target" "$seconds" ||
    status=1
done
exit $status
