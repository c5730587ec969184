#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# From a fresh machine: installs what is missing, builds the plug-in, its two
# libraries, zksnap and zkfiler only (a Release build of its own in
# build-demo, no tests, no benchmarks) and runs 'zksnap demo', the whole
# snapshot lifecycle on the simulated file server, its clone read over NFS
# (as root; without root from the file server's data directory).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZK_JOBS:-2}

scripts/install-deps.sh --demo
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DZK_BUILD_TESTS=OFF -DZK_BUILD_BENCH=OFF -DZK_BUILD_FUZZ=OFF \
  -DZK_BUILD_MANPAGES=OFF >/dev/null
ninja -C build-demo -j"$jobs" zksnap_celerra zksnap zkfiler
exec build-demo/zksnap demo "$@"
