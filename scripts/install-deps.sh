#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages the build and the tests need, if missing.
#   scripts/install-deps.sh          build, tests, benchmarks, packages
#   scripts/install-deps.sh --fuzz   the same and clang for the fuzz targets
#   scripts/install-deps.sh --demo   only what the plug-in, zksnap and zkfiler
#                                    need, and the NFS server the demo serves
#                                    the clones with
set -euo pipefail
# zksnap reads clones over NFS with libnfs.
build_pkgs=(cmake ninja-build g++ pkg-config libsqlite3-dev libcli11-dev
            libnfs-dev binutils)
serve_pkgs=(nfs-ganesha nfs-ganesha-vfs)
# Tests and benchmarks; the Debian packages (dpkg-buildpackage with
# debhelper, as debian/control's Build-Depends ask), their manual pages,
# lintian, and man to read them; git for the packages' SOURCE_DATE_EPOCH
# and python3 for scripts/check-sources.py; the command-line tools of the
# NFS client library (nfs-ls, nfs-cat).
test_pkgs=(libgtest-dev libgmock-dev libbenchmark-dev help2man dpkg-dev
           debhelper file lintian man-db git python3 libnfs-utils)
case "${1:-}" in
  --demo) pkgs=("${build_pkgs[@]}" "${serve_pkgs[@]}") ;;
  --fuzz) pkgs=("${build_pkgs[@]}" "${serve_pkgs[@]}" "${test_pkgs[@]}"
                clang libclang-rt-14-dev) ;;
  *) pkgs=("${build_pkgs[@]}" "${serve_pkgs[@]}" "${test_pkgs[@]}") ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
