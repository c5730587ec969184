#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds a copy of the tree (its files as they are now) whose one version,
# project(VERSION) in CMakeLists.txt, is changed, and checks that every
# output follows it; then installs that build without packages and checks
# that what is installed points into the folder it is installed in.
#   - the plug-in's zkso_version (through zksnap --version), zksnap
#     --version, zkfiler --version, the manual pages, the pkg-config file
#     and the CMake package name the changed version; the Debian build
#     refuses a debian/changelog that names another;
#   - cmake --install build --prefix DIR: the pkg-config file and the CMake
#     package point into DIR, and still do once DIR is moved; --component
#     dev alone gives a CMake package that configures.
# A Debug build of the plug-in, its libraries, zksnap and zkfiler only.
#   scripts/check-install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${ZK_JOBS:-2}
root=$(mktemp -d /tmp/zk-install-XXXXXX)
trap 'rm -rf "$root"' EXIT
fail() { echo "check-install: $*" >&2; exit 1; }

old=$(scripts/version.sh)
new=9.8.7
[ "$old" != "$new" ] || new=9.8.8
src=$root/src
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf - | tar -xf - -C "$src"
sed -i "s/^project(zksnap_celerra VERSION $old /project(zksnap_celerra VERSION $new /" \
  "$src/CMakeLists.txt"
[ "$("$src/scripts/version.sh")" = "$new" ] || fail "could not change the version in the copy"

echo "=== install: a build of version $new"
cmake -S "$src" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DZK_BUILD_TESTS=OFF -DZK_BUILD_BENCH=OFF -DZK_BUILD_FUZZ=OFF \
  -DZK_BUILD_MANPAGES=ON >/dev/null
ninja -C "$root/build" -j"$jobs" >/dev/null

said=$("$root/build/zksnap" --version)
expected=$(printf 'zksnap %s\nplug-in %s %s' "$new" "$root/build/libzksnap_celerra.so" "$new")
[ "$said" = "$expected" ] || fail "zksnap --version says: $said"
said=$("$root/build/zkfiler" --version)
[ "$said" = "zkfiler $new" ] || fail "zkfiler --version says: $said"
for page in zksnap zkfiler; do
  zcat "$root/build/packaging/$page.1.gz" | grep -q "^\.TH .*\"$page $new\"" ||
    fail "$page.1 does not name version $new: $(zcat "$root/build/packaging/$page.1.gz" | grep '^\.TH')"
done
if (cd "$src" && dpkg-buildpackage -us -uc -b >"$root/deb.log" 2>&1); then
  fail "the Debian build took a changelog of version $old with CMakeLists.txt at $new"
fi
grep -q "debian/changelog names $old, CMakeLists.txt $new" "$root/deb.log" ||
  { tail -n 20 "$root/deb.log"; fail "the Debian build failed otherwise than on the version"; }
echo "version $new: zkso_version, zksnap and zkfiler --version, manual pages; debian/rules refuses changelog $old"

echo "=== install: cmake --install without packages"
cmake --install "$root/build" --prefix "$root/full" >/dev/null
mv "$root/full" "$root/moved"
cmake --install "$root/build" --prefix "$root/dev" --component dev >/dev/null
for dir in moved dev; do
  prefix=$root/$dir
  pcdir=$(dirname "$(find "$prefix" -name zksnap_celerra.pc)")
  pc=(env PKG_CONFIG_PATH="$pcdir" pkg-config)
  [ "$("${pc[@]}" --modversion zksnap_celerra)" = "$new" ] ||
    fail "$dir: pkg-config says version $("${pc[@]}" --modversion zksnap_celerra)"
  for var in includedir plugin simlibdir; do
    path=$(realpath -m "$("${pc[@]}" --variable=$var zksnap_celerra)")
    case $path in
      "$prefix"/*) ;;
      *) fail "$dir: pkg-config's $var is $path, outside $prefix" ;;
    esac
  done
  [ -f "$(realpath -m "$("${pc[@]}" --variable=includedir zksnap_celerra)")/host/ZKSnapPlugin.h" ] ||
    fail "$dir: pkg-config's includedir holds no host/ZKSnapPlugin.h"

  mkdir -p "$root/use-$dir"
  cat >"$root/use-$dir/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.20)
project(use_package NONE)
find_package(zksnap_celerra ${ZK_VERSION} EXACT REQUIRED)
get_target_property(inc zksnap_celerra::host_headers INTERFACE_INCLUDE_DIRECTORIES)
file(WRITE ${CMAKE_BINARY_DIR}/found.txt
  "${zksnap_celerra_PLUGIN}\n${zksnap_celerra_PLUGIN_FOUND}\n${zksnap_celerra_SIM_LIBRARY_DIR}\n${inc}\n")
CMAKE
  cmake -S "$root/use-$dir" -B "$root/use-$dir/build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DZK_VERSION="$new" >/dev/null || fail "$dir: the CMake package does not configure"
  mapfile -t found <"$root/use-$dir/build/found.txt"
  for k in 0 2 3; do
    case $(realpath -m "${found[$k]}") in
      "$prefix"/*) ;;
      *) fail "$dir: the CMake package names ${found[$k]}, outside $prefix" ;;
    esac
  done
  want=TRUE
  [ "$dir" = dev ] && want=FALSE
  [ "${found[1]}" = "$want" ] || fail "$dir: zksnap_celerra_PLUGIN_FOUND is ${found[1]}, not $want"
  echo "$dir: pkg-config file and CMake package point into it (plug-in installed: $want)"
done
echo "install: checked"
