#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Every test, from a fresh machine: installs what is missing, checks the
# sources (SPDX lines, the guide's table of reasons and errors:
# scripts/check-sources.py), builds and runs the suite plain and under
# ASan+UBSan, the threaded suites under TSan, and each fuzz target for a
# bounded time; builds the Debian packages as the README tells (lintian: no
# error, no warning) twice, from two folders, and compares them byte for
# byte, and checks them unpacked (scripts/package.sh,
# scripts/check-packages.sh); builds a copy with another version and
# installs it without packages (scripts/check-install.sh). Both suites
# hold the allocation sweep (ctest label "alloc") and the load/unload loop
# (label "reload"); the check below makes sure they ran.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZK_JOBS:-2}
fuzz_secs=${ZK_FUZZ_SECONDS:-15}

scripts/install-deps.sh --fuzz

echo "=== sources: SPDX lines, reasons and errors of docs/integrating.md"
scripts/check-sources.py

run_suite() {  # build-dir, extra cmake args..., then ctest args after --
  local dir=$1; shift
  local cargs=() targs=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do cargs+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targs=("$@")
  echo "=== $dir: configure and build"
  cmake -S . -B "$dir" -G Ninja "${cargs[@]}" >/dev/null
  ninja -C "$dir" -j"$jobs"
  echo "=== $dir: tests"
  local log="$dir/ctest-summary.log"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "${targs[@]}" | tee "$log"
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  total_passed=$((total_passed + ${n:-0}))
}

# Fails when a suite ran none of the tests of a label.
ran_label() {  # build-dir, label
  local n
  n=$(ctest --test-dir "$1" -N -L "$2" | sed -n 's/^Total Tests: \([0-9]*\).*/\1/p')
  if [ "${n:-0}" -eq 0 ]; then
    echo "$1: no test labelled $2" >&2
    exit 1
  fi
  echo "=== $1: $n tests labelled $2 ran"
}
total_passed=0

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ran_label build alloc
ran_label build reload

# The packages: a Release build of their own, lintian without an error, and
# the unpacked packages alone run the demo and serve a host's build.
echo "=== packages: build and lintian"
scripts/package.sh build-package
# The same sources built in another folder give the same packages.
echo "=== packages: again from another folder, byte for byte"
scripts/package.sh build-package-again >/dev/null
for deb in build-package/*.deb; do
  cmp "$deb" "build-package-again/${deb##*/}" ||
    { echo "packages: ${deb##*/} differs between two builds" >&2; exit 1; }
done
echo "packages: $(ls build-package/*.deb | wc -l) packages identical from two folders"
rm -rf build-package-again
scripts/check-packages.sh build-package
scripts/check-install.sh
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=address,undefined -DZK_BUILD_BENCH=OFF -DZK_BUILD_MANPAGES=OFF
ran_label build-asan alloc
ran_label build-asan reload
TSAN_OPTIONS=halt_on_error=1 \
  run_suite build-tsan -DCMAKE_BUILD_TYPE=Debug -DZK_SANITIZE=thread -DZK_BUILD_BENCH=OFF -DZK_BUILD_MANPAGES=OFF -- -L threads

if [ -x scripts/fuzz.sh ]; then
  # A fixed number of inputs from a fixed seed per target, so the run is the
  # same on every machine; ZK_FUZZ_RUNS= (empty) fuzzes for ZK_FUZZ_SECONDS.
  fuzz_runs=${ZK_FUZZ_RUNS-4000}
  echo "=== fuzz: ${fuzz_runs:-${fuzz_secs}s} per target"
  ZK_FUZZ_RUNS=$fuzz_runs scripts/fuzz.sh build-fuzz "$fuzz_secs"
fi

# The suites stop this script at the first failure, so reaching here means
# every test ran green.
echo "tests: ${total_passed} passed, 0 failed"
