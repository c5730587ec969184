#!/usr/bin/env bash
# From a fresh machine: installs what is missing, builds everything and runs
# 'zksnap demo', the whole snapshot lifecycle on the simulated file server.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZK_JOBS:-2}

scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build -j"$jobs"
exec build/zksnap demo "$@"
