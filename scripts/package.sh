#!/usr/bin/env bash
# Builds the three Debian packages in a Release build of their own
# (build-package; no tests, no benchmarks) and checks them with lintian:
#   zksnap-celerra       the plug-in
#   zksnap-celerra-dev   host headers, pkg-config file, CMake package
#   zksnap-celerra-sim   zksnap, zkfiler, stand-in host libraries, example
#                        layout, manual pages
# The .deb files end up in build-package/. Fails when lintian reports an
# error; its warnings are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZK_JOBS:-2}
build=build-package
# Debian's build flags (hardening included), read when the build directory
# is first configured.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS" CFLAGS="$CFLAGS $CPPFLAGS"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX=/usr -DZK_BUILD_TESTS=OFF -DZK_BUILD_BENCH=OFF \
  -DZK_BUILD_FUZZ=OFF -DZK_BUILD_MANPAGES=ON >/dev/null
ninja -C "$build" -j"$jobs"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/*.deb)
if ((${#debs[@]} != 3)); then
  echo "package.sh: expected 3 packages, cpack made ${#debs[@]}" >&2
  exit 1
fi
for deb in "${debs[@]}"; do
  printf '%-48s %8s bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
done
echo "=== lintian"
lintian --fail-on error --tag-display-limit 0 "${debs[@]}"
