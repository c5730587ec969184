#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer targets (fuzz/) with clang and runs each for a bounded
# time on its seed corpus, with its dictionary (fuzz/<target>.dict).
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS] [TARGET...]
#
# BUILD_DIR defaults to build-fuzz in the repository; SECONDS (per target)
# to 20; TARGET to every target. New inputs go to BUILD_DIR/corpus/<target>
# and are kept from run to run, crashes to BUILD_DIR/artifacts/; the seed
# corpus in fuzz/corpus/ is only read. A saved crash is replayed with
#   BUILD_DIR/fuzz/<target> BUILD_DIR/artifacts/<file>
# and belongs, once fixed, in fuzz/regressions/<target>/ (tests/fuzz replays
# it in the ordinary suite). ZK_FUZZ_JOBS runs that many fuzzing processes
# per target (libFuzzer -fork); default 1.
# Installs clang and its fuzzer runtime with apt-get when they are missing.
# Prints each target's executions and executions per second. Exits non-zero
# when a target finds a fault.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${2:-20}
all_targets=(codec_fuzz arrayinfo_fuzz hostid_fuzz metadata_fuzz layout_fuzz
  ops_fuzz)
if (($# > 2)); then
  targets=("${@:3}")
else
  targets=("${all_targets[@]}")
fi
jobs=${ZK_BUILD_JOBS:-2}
fuzz_jobs=${ZK_FUZZ_JOBS:-1}
for target in "${targets[@]}"; do
  if [[ " ${all_targets[*]} " != *" $target "* ]]; then
    echo "fuzz.sh: unknown target '$target' (known: ${all_targets[*]})" >&2
    exit 2
  fi
done
if [[ ! $fuzz_jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "fuzz.sh: ZK_FUZZ_JOBS must be a positive whole number" >&2
  exit 2
fi

if [[ ! $seconds =~ ^[0-9]+$ ]]; then
  echo "fuzz.sh: SECONDS must be a whole number, got '$seconds'" >&2
  exit 2
fi

# What each target is given, as the output says it.
if [[ -n ${ZK_FUZZ_RUNS:-} ]]; then
  budget="$ZK_FUZZ_RUNS runs from seed ${ZK_FUZZ_SEED:-1}"
else
  budget="${seconds}s"
fi

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

can_link_fuzzer() {
  local probe
  probe=$(mktemp -d)
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' \
    >"$probe/probe.cpp"
  local ok=0
  clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" \
    -o "$probe/probe" >/dev/null 2>&1 || ok=1
  rm -rf "$probe"
  return $ok
}

missing=()
command -v clang++ >/dev/null 2>&1 || missing+=(clang libclang-rt-14-dev)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
command -v pkg-config >/dev/null 2>&1 || missing+=(pkg-config)
pkg-config --exists sqlite3 2>/dev/null || missing+=(libsqlite3-dev)
if ((${#missing[@]} == 0)) && ! can_link_fuzzer; then
  missing+=(libclang-rt-14-dev)
fi
if ((${#missing[@]} > 0)); then
  echo "fuzz.sh: installing ${missing[*]}"
  as_root apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
fi

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DZK_BUILD_FUZZ=ON -DZK_BUILD_TESTS=OFF -DZK_BUILD_BENCH=OFF
ninja -C "$build" -j "$jobs" "${targets[@]}"

failed=()
summary=()
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$work" "$build/artifacts"
  echo "== $target: $budget"
  args=(-print_final_stats=1 -timeout=25
    -artifact_prefix="$build/artifacts/$target-")
  # ZK_FUZZ_RUNS makes a run repeatable: that many inputs from a fixed seed
  # (ZK_FUZZ_SEED, default 1) instead of a time budget. The test command
  # uses it, so that what one machine ran clean runs clean on the next.
  if [[ -n ${ZK_FUZZ_RUNS:-} ]]; then
    args+=(-runs="$ZK_FUZZ_RUNS" -seed="${ZK_FUZZ_SEED:-1}")
  else
    args+=(-max_total_time="$seconds")
  fi
  # The whole-operation target's world keeps process-wide state that grows
  # from input to input (the CIFS server cache, the file server store's
  # caches), so libFuzzer's leak check would scan the heap after nearly
  # every input. Its inputs are checked for leaks where the suite replays
  # them under ASan (tests/fuzz, at exit).
  if [[ $target == ops_fuzz ]]; then
    args+=(-detect_leaks=0)
  fi
  if [[ -f $root/fuzz/$target.dict ]]; then
    args+=(-dict="$root/fuzz/$target.dict")
  fi
  if ((fuzz_jobs > 1)); then
    args+=(-fork="$fuzz_jobs" -ignore_crashes=0)
  fi
  if ! "$build/fuzz/$target" "${args[@]}" "$work" "$root/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    failed+=("$target")
    tail -n 40 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-16s %10s runs %8s/s' "$target" "${runs:-?}" \
    "${rate:-?}")")
done

echo "== fuzz summary ($budget per target; logs in $build/<target>.log)"
printf '%s\n' "${summary[@]}"

if ((${#failed[@]} > 0)); then
  echo "fuzz.sh: faults found by: ${failed[*]} (inputs in $build/artifacts)" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran $budget each without a fault"
