#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs the whole suite, first in build/,
# then the Debian package of that build, installed into a scratch root (the tests labelled
# package), then with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, then
# cross-built for Windows in build-win/ and run under Wine, then each fuzz target of fuzz/ for a
# few seconds from its seed corpus in build-fuzz/ (clang and libFuzzer).
#   scripts/test.sh [--valgrind]
# --valgrind adds a pass of the unit and platform test programs of build/ under valgrind's memcheck,
# each program one result: passed when valgrind reports no error and no leak.
# Exits non-zero on any failure; the last line counts the tests that passed, failed and skipped.
set -uo pipefail
source "$(dirname "$0")/common.sh"
cd "$repo_root"

with_valgrind=0
for arg in "$@"; do
  case $arg in
    --valgrind) with_valgrind=1 ;;
    *)
      echo "usage: $0 [--valgrind]" >&2
      exit 2
      ;;
  esac
done

passed=0
failed=0
skipped=0
broken=()

# Counts the test cases of a ctest JUnit report; prints "PASSED FAILED SKIPPED". A case passed
# when ctest ran it and it passed; it skipped itself when ctest did not count it as run for a
# skip (its message SKIP_RETURN_CODE=... or SKIP_REGULAR_EXPRESSION_MATCHED) or it is disabled;
# every other case failed: a failure, a time-out, or a test that could not start at all (ctest
# reports that as not run too, with the reason as its message).
junit_counts() {
  awk 'BEGIN { RS = "<" }
    function value(name) {
      if (!match($0, "[ \t\n]" name "=\"[^\"]*\"")) return ""
      return substr($0, RSTART + length(name) + 3, RLENGTH - length(name) - 4)
    }
    function tally() {
      if (!open) return
      if (status == "run") passed++
      else if (status == "disabled" || (status == "notrun" && reason ~ /^SKIP_/)) skipped++
      else failed++
      open = 0
    }
    /^testcase[ \t\n]/ { tally(); open = 1; status = value("status"); reason = "" }
    /^skipped[ \t\n\/]/ { reason = value("message") }
    END { tally(); print passed + 0, failed + 0, skipped + 0 }' "$1"
}

# Runs ctest in a build directory and adds the counts of its JUnit report (DIR/REPORT) to the
# totals; any further arguments go to ctest (a label to run or leave out). ctest's exit status has
# to agree: a failing ctest whose report holds no failed test (no tests at all, or ctest itself in
# trouble) makes the stage broken.
#   run_suite NAME DIR REPORT [CTEST_ARGS...]
run_suite() {
  local name=$1 dir=$2 report=$3
  shift 3
  echo "== $name: running tests in $dir"
  local junit="$repo_root/$dir/$report"
  rm -f "$junit"
  ctest --test-dir "$repo_root/$dir" --output-on-failure --timeout 600 -j2 --no-tests=error --output-junit "$junit" "$@"
  local status=$?
  if [ ! -s "$junit" ]; then
    broken+=("$name: ctest gave no report (status $status)")
    return
  fi
  local p f s
  read -r p f s < <(junit_counts "$junit")
  echo "== $name: $p passed, $f failed, $s skipped"
  passed=$((passed + p))
  failed=$((failed + f))
  skipped=$((skipped + s))
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
    broken+=("$name: ctest failed (status $status) with no failed test in its report")
  fi
}

# Builds a directory and runs its suite, all but the package tests (the package stage's); a build
# that fails counts as broken.
build_and_run() {
  local name=$1 dir=$2
  shift 2
  echo "== $name: building $dir"
  if configure_and_build "$dir" "$@"; then
    run_suite "$name" "$dir" ctest-junit.xml -LE package
  else
    broken+=("$name: build failed")
  fi
}

# The Windows build: cross-built with MinGW-w64, its suite run under Wine in a prefix of its own.
# The prefix's Wine server is held for the whole suite, which saves seconds per test program.
wine_prefix=
release_wine() {
  if [ -n "$wine_prefix" ]; then
    "$repo_root/scripts/wine-run.sh" "$wine_prefix" --release
  fi
  wine_prefix=
}

build_and_run_windows() {
  local name=$1 dir=$2
  echo "== $name: building $dir"
  if ! ensure_packages "${windows_packages[@]}"; then
    broken+=("$name: packages could not be installed")
    return
  fi
  # The end-to-end test under Wine takes cartsim and the native n64dump from the native build.
  if ! configure_and_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo_root/cmake/mingw-w64-x86_64.cmake" \
    -DCARTDUMP_HOST_TOOLS="$repo_root/build/bin"; then
    broken+=("$name: build failed")
    return
  fi
  local prefix="$repo_root/$dir/wineprefix"
  if ! "$repo_root/scripts/wine-run.sh" "$prefix"; then
    broken+=("$name: the Wine prefix could not be created")
    return
  fi
  wine_prefix=$prefix
  "$repo_root/scripts/wine-run.sh" "$prefix" --hold || echo "$name: no Wine server held; tests start slower"
  run_suite "$name" "$dir" ctest-junit.xml
  release_wine
}

# The package stage: the Debian package of a build that is already there (cpack -G DEB, no other
# build), unpacked with dpkg -x into a scratch root, its programs run from there: the tests
# labelled package (tests/installed_package.sh), reported in DIR/ctest-junit-package.xml.
run_package_stage() {
  local name=$1 dir=$2
  if ! ensure_packages "${package_packages[@]}"; then
    broken+=("$name: packages could not be installed")
    return
  fi
  if [ ! -f "$repo_root/$dir/CTestTestfile.cmake" ]; then
    broken+=("$name: $dir was not built")
    return
  fi
  run_suite "$name" "$dir" ctest-junit-package.xml -L package
}

# The fuzz targets, each fuzzing for a few seconds as a CTest test of build-fuzz/.
build_and_run_fuzz() {
  local name=$1 dir=$2
  if ! ensure_packages "${fuzz_packages[@]}"; then
    broken+=("$name: packages could not be installed")
    return
  fi
  build_and_run "$name" "$dir" "${fuzz_cmake_options[@]}"
}

# The unit and platform test programs of build/ under valgrind's memcheck: any memory error or
# leak fails the program's run. Each program counts as one result.
run_valgrind() {
  local name=$1 dir=$2
  echo "== $name: the test programs of $dir under valgrind"
  if ! ensure_packages valgrind; then
    broken+=("$name: valgrind could not be installed")
    return
  fi
  local program log
  for program in unit_tests platform_tests; do
    log="$repo_root/$dir/valgrind-$program.log"
    if [ ! -x "$repo_root/$dir/bin/$program" ]; then
      broken+=("$name: $dir/bin/$program was not built")
      continue
    fi
    if valgrind --error-exitcode=99 --leak-check=full \
      --log-file="$log" "$repo_root/$dir/bin/$program" --gtest_brief=1 >"$log.out" 2>&1; then
      echo "$name: $program clean"
      passed=$((passed + 1))
    else
      echo "$name: $program FAILED (valgrind's report: $log)"
      grep -E '^==[0-9]+== ' "$log" | head -n 40
      tail -n 20 "$log.out"
      failed=$((failed + 1))
    fi
  done
}

# Whatever happens, no cartsim mount of this run outlives it, nor the held Wine server.
undo_cartsim_mounts
trap 'release_wine; undo_cartsim_mounts' EXIT

ensure_packages "${base_packages[@]}" || broken+=("packages could not be installed")

build_and_run native build
run_package_stage package build
build_and_run sanitizers build-asan -DCARTDUMP_SANITIZE=ON
build_and_run_windows windows build-win
build_and_run_fuzz fuzz build-fuzz
[ "$with_valgrind" -eq 1 ] && run_valgrind valgrind build

for b in "${broken[@]}"; do echo "BROKEN: $b"; done
status=0
[ "$failed" -eq 0 ] && [ ${#broken[@]} -eq 0 ] || status=1
echo "scripts/test.sh: $passed passed, $failed failed, $skipped skipped${broken:+, ${#broken[@]} broken}"
exit $status
