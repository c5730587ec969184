#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang and runs each for a bounded
# time on its seed corpus.
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS]
#
# BUILD_DIR defaults to build-fuzz in the repository; SECONDS (per target)
# to 20. New inputs go to BUILD_DIR/corpus/<target>, crashes to
# BUILD_DIR/artifacts/; the seed corpus in fuzz/corpus/ is only read.
# Installs clang and its fuzzer runtime with apt-get when they are missing.
# Exits non-zero when a target finds a fault.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${2:-20}
targets=(codec_fuzz arrayinfo_fuzz hostid_fuzz metadata_fuzz layout_fuzz)
jobs=${ZK_BUILD_JOBS:-2}

if [[ ! $seconds =~ ^[0-9]+$ ]]; then
  echo "fuzz.sh: SECONDS must be a whole number, got '$seconds'" >&2
  exit 2
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
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  mkdir -p "$work" "$build/artifacts"
  echo "== $target: ${seconds}s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" \
      "$work" "$root/fuzz/corpus/$target"; then
    failed+=("$target")
  fi
done

if ((${#failed[@]} > 0)); then
  echo "fuzz.sh: faults found by: ${failed[*]} (inputs in $build/artifacts)" >&2
  exit 1
fi
echo "fuzz.sh: ${#targets[@]} targets ran ${seconds}s each without a fault"
