#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the Debian packages from debian/ with dpkg-buildpackage, as a
# distribution would, and checks them with lintian (no error, no warning):
#   zksnap-celerra       the plug-in
#   zksnap-celerra-dev   host headers, pkg-config file, CMake package, guide
#   zksnap-celerra-sim   zksnap, zkfiler, stand-in host libraries, example
#                        layout, manual pages
# and the -dbgsym packages of the two that hold binaries. The build runs in a copy of the checkout
# (its files as they are now, committed or not) in OUT/src, so the checkout
# gets no build files; the .deb files end up in OUT (default build-package).
# SOURCE_DATE_EPOCH is the last commit's time, so the same sources give the
# same packages, byte for byte, from any folder.
#   scripts/package.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build-package}
export DEB_BUILD_OPTIONS="parallel=${ZK_JOBS:-2} ${DEB_BUILD_OPTIONS:-}"
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

rm -rf "$out"
mkdir -p "$out/src"
if git rev-parse --git-dir >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$out/src"
else
  tar --exclude='./build*' --exclude=./.zksnap -cf - . | tar -xf - -C "$out/src"
fi
# Every file dated SOURCE_DATE_EPOCH: the packages' dates do not depend on
# when this checkout's files were written.
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  find "$out/src" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
fi
(cd "$out/src" && dpkg-buildpackage -us -uc -b >../dpkg-buildpackage.log 2>&1) || {
  tail -n 40 "$out/dpkg-buildpackage.log" >&2
  echo "package.sh: dpkg-buildpackage failed; the whole log: $out/dpkg-buildpackage.log" >&2
  exit 1
}
rm -rf "$out/src"
version=$(scripts/version.sh)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
debs=()
for pkg in zksnap-celerra zksnap-celerra-dev zksnap-celerra-sim \
  zksnap-celerra-dbgsym zksnap-celerra-sim-dbgsym; do
  deb=$out/${pkg}_${version}_${arch}.deb
  [ -f "$deb" ] || { echo "package.sh: $deb was not made" >&2; exit 1; }
  debs+=("$deb")
done
for deb in "${debs[@]}"; do
  printf '%-56s %8s bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
done
echo "=== lintian"
lintian --fail-on error,warning --tag-display-limit 0 "${debs[@]}"
echo "lintian: no error, no warning"
